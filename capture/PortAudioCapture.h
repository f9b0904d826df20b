#pragma once

#include <memory>

#include "capture/CaptureReport.h"
#include "capture/CaptureSource.h"
#include "settings/EncoderConfig.h"

// Starts PortAudio, resolves AConfig's channel among its devices, opens
// and starts the stream; the result owns the library's start until it is
// destroyed. Null after reporting the reason. A loopback channel may
// replace AConfig.SampleRate with its partner's rate.
std::unique_ptr<TCaptureSource> OpenPortAudioChannel(TEncoderConfig& AConfig, const TCaptureReport& AReport);
