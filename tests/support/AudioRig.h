#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// A sound card for a machine without one: PulseAudio with a null sink
// "tavix_out" in a temporary folder, and the ALSA pulse plugin exposing the
// sink as "speakers_test" and its monitor as "monitor_test". Create it
// before the first Pa_Initialize of the process: it points this process's
// ALSA and PulseAudio clients at the rig through the environment.
class TAudioRig {
public:
    TAudioRig(); // throws when the daemon does not come up
    ~TAudioRig();

    static constexpr const char* KOutputDevice = "speakers_test";
    static constexpr const char* KMonitorDevice = "monitor_test";

    // Plays a sine into the sink in the background (16-bit stereo 44100 Hz).
    void PlayTone(double AFreqHz, double ASeconds, double AAmplitude = 0.5);
    // Music-like sound for ASeconds: pink noise with a tone, which a codec
    // cannot encode almost for free as it does a pure tone.
    void PlayMusicLike(double ASeconds);
    void StopTone();
    // Ends the daemon (and the tone), and starts it again with the same
    // sink: a restart of the sound server.
    void StopDaemon();
    void StartDaemon();
    std::string PulseServer() const { return "unix:" + FDir.File("pulse.sock"); }
    // Environment a child process needs to reach the rig (e.g. ffmpeg -f alsa).
    std::map<std::string, std::string> Environment() const;

private:
    void Play(const std::string& ASynth);

    TTempDir FDir;
    std::unique_ptr<TChildProcess> FDaemon;
    std::unique_ptr<TChildProcess> FTone;
};
