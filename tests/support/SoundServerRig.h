#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

enum class TSoundServerKind { PulseAudio, PipeWire };

// A desktop's sound server in a temporary folder, the way a user's machine
// has it: reached through its own protocol only, with no ALSA
// configuration. PipeWire comes with its session bus, session manager and
// PulseAudio protocol server. Creating it points this process's libpulse
// clients at it.
class TSoundServerRig {
public:
    explicit TSoundServerRig(TSoundServerKind AKind); // throws with the logs when it does not come up
    ~TSoundServerRig();
    TSoundServerRig(const TSoundServerRig&) = delete;
    TSoundServerRig& operator=(const TSoundServerRig&) = delete;

    TSoundServerKind Kind() const { return FKind; }
    // Sets this process's environment to reach the rig (several rigs can
    // run; the last applied is the one clients reach).
    void Apply() const;
    std::map<std::string, std::string> Environment() const;

    // The module's index; throws with pactl's words when refused.
    uint32_t LoadNullSink(const std::string& AName, const std::string& ADescription);
    // A genuine input, not a monitor of any sink, that PlayTone can feed:
    // module-pipe-source reads what is written into its FIFO, as a capture
    // card reads its line input. It exists under both servers.
    uint32_t LoadInputSource(const std::string& AName, const std::string& ADescription);
    void UnloadModule(uint32_t AIndex);

    // A sine in the background into a sink, or into an input source,
    // 48000 Hz stereo float.
    void PlayTone(const std::string& ADevice, double AFreqHz, double ASeconds, double AAmplitude);
    void StopTones();

    // Ends the sound server with its helpers and the tones (as a logout or
    // an update does), and starts it again: the modules loaded since are
    // gone.
    void StopServer();
    void StartServer();

    // Stops and resumes the process that speaks the PulseAudio protocol
    // (SIGSTOP, SIGCONT): a server that hangs with its clients connected.
    void PauseServer();
    void ResumeServer();

    // pactl's output; throws with it when pactl fails.
    std::string Pactl(const std::string& AArgs) const;

private:
    void StartPulseAudio();
    void StopDaemons();
    void SignalServer(int ASignal);
    void StartPipeWire();
    // Starts a daemon of the rig; its output goes to <name>.log.
    TChildProcess& Start(const std::vector<std::string>& AArgs);
    // Waits for APath to appear while every daemon runs; throws otherwise.
    void WaitForFile(const std::string& APath, const std::string& AWhat);
    void WaitForServer();
    [[noreturn]] void Fail(const std::string& AWhat) const;

    TSoundServerKind FKind;
    TTempDir FDir;
    std::vector<std::pair<std::string, std::unique_ptr<TChildProcess>>> FDaemons; // start order
    std::vector<std::unique_ptr<TChildProcess>> FTones;
    std::map<std::string, std::string> FInputFifos; // input source -> its FIFO
};
