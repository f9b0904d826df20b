#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One device of the desktop's sound server (PulseAudio, or PipeWire through
// pipewire-pulse), as its client library reports it.
struct TSoundServerDevice {
    std::string Name;        // the server's stable name ("alsa_input.pci-...", "Headset")
    std::string Description; // its human description ("Built-in Audio Analog Stereo")
    bool IsSink = false;     // an output; otherwise a source (an input)
    bool IsMonitor = false;  // a source that is some sink's monitor
    std::string MonitorSource; // sinks: the name of their monitor source
    int32_t Channels = 0;
    int32_t SampleRate = 0;
};

struct TSoundServerCatalogue {
    bool Reachable = false;   // a server answered
    std::string ServerLabel;  // "PulseAudio" or "PipeWire", for the captions
    std::vector<TSoundServerDevice> Devices; // sinks and sources, server order
};

// Asks the server once (bounded wait, a few seconds at most); an
// unreachable server gives Reachable == false and no devices.
TSoundServerCatalogue EnumerateSoundServerDevices();
