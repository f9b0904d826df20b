#pragma once

#include <string>
#include <vector>

#include <portaudio.h>

#include "capture/AudioDevice.h"

// The devices of the initialised capture library, read on each call.
class TPortAudioDeviceList : public TAudioDeviceList {
public:
    int Count() const override;
    std::optional<TAudioDeviceInfo> Info(int AIndex) const override;
};

// Every device the library reports, in index order. Brackets its own
// Pa_Initialize/Pa_Terminate; empty when the library does not start.
std::vector<TTavixAudioDevice> EnumerateAudioDevices();

// The library's text for an error code, or "Erro PortAudio <code>".
std::string PortAudioErrorText(PaError ACode);
