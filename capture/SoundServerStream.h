#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureSource.h"

// Opens a blocking 32-bit float capture of the server's source ASourceName
// (an input, or a sink's monitor) at ASampleRate with AChannels, fragments
// of AFramesPerBlock frames. Null with the operator's message in AError
// ("Não abriu o canal selecionado: ...") when the server refuses.
std::unique_ptr<TCaptureSource> OpenSoundServerCapture(const std::string& ASourceName,
                                                       int32_t ASampleRate, int AChannels,
                                                       int AFramesPerBlock, std::string& AError);
