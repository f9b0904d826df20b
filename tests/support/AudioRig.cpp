#include "tests/support/AudioRig.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

TAudioRig::TAudioRig()
{
    RequireProgram("pulseaudio");
    RequireProgram("pacat");
    RequireProgram("sox");
    const std::string sock = FDir.File("pulse.sock");
    WriteTextFile(FDir.File("pa.pa"),
                  "load-module module-native-protocol-unix auth-anonymous=1 socket=" + sock + "\n"
                  "load-module module-null-sink sink_name=tavix_out rate=44100 channels=2\n"
                  "set-default-sink tavix_out\n"
                  "set-default-source tavix_out.monitor\n");
    std::filesystem::create_directories(FDir.File("config/alsa"));
    WriteTextFile(FDir.File("config/alsa/asoundrc"),
                  "pcm.speakers_test { type pulse device \"tavix_out\" }\n"
                  "ctl.speakers_test { type pulse }\n"
                  "pcm.monitor_test { type pulse device \"tavix_out.monitor\" }\n"
                  "ctl.monitor_test { type pulse }\n");
    for (const auto& [k, v] : Environment())
        setenv(k.c_str(), v.c_str(), 1);
    StartDaemon();
}

void TAudioRig::StopDaemon()
{
    StopTone();
    FDaemon.reset();
    // A socket left behind would pass for the new daemon's.
    std::filesystem::remove(FDir.File("pulse.sock"));
}

void TAudioRig::StartDaemon()
{
    const std::string sock = FDir.File("pulse.sock");
    FDaemon = std::make_unique<TChildProcess>(
        std::vector<std::string>{"pulseaudio", "-n", "-F", FDir.File("pa.pa"), "--daemonize=no",
                                 "--exit-idle-time=-1", "--disallow-exit", "--disable-shm=yes"},
        Environment(), FDir.File("pulse.log"));
    for (int i = 0; i < 200 && !std::filesystem::exists(sock); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    int code = -1;
    for (int i = 0; i < 40 && code != 0; ++i) {
        RunCommand("PULSE_SERVER=" + ShellQuote(PulseServer()) + " pactl info >/dev/null 2>&1", &code);
        if (code != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (code != 0)
        throw std::runtime_error("pulseaudio did not start: " + ReadTextFile(FDir.File("pulse.log")));
}

TAudioRig::~TAudioRig()
{
    StopTone();
    FDaemon.reset();
}

std::map<std::string, std::string> TAudioRig::Environment() const
{
    return {{"PULSE_SERVER", PulseServer()},
            {"PULSE_RUNTIME_PATH", FDir.Path()},
            {"PULSE_STATE_PATH", FDir.Path()},
            {"XDG_RUNTIME_DIR", FDir.Path()},
            {"XDG_CONFIG_HOME", FDir.File("config")},
            {"JACK_NO_START_SERVER", "1"}};
}

void TAudioRig::PlayTone(double AFreqHz, double ASeconds, double AAmplitude)
{
    Play(std::to_string(ASeconds) + " sine " + std::to_string(AFreqHz) + " vol " + std::to_string(AAmplitude));
}

void TAudioRig::PlayMusicLike(double ASeconds)
{
    Play(std::to_string(ASeconds) + " pinknoise mix sine 440 vol 0.4");
}

void TAudioRig::Play(const std::string& ASynth)
{
    StopTone();
    const std::string cmd = "sox -q -n -t raw -r 44100 -c 2 -e signed -b 16 - synth " + ASynth +
                            " | pacat --device=tavix_out --rate=44100 --channels=2 --format=s16le --latency-msec=50";
    FTone = std::make_unique<TChildProcess>(std::vector<std::string>{"/bin/sh", "-c", cmd},
                                            Environment(), FDir.File("tone.log"));
}

void TAudioRig::StopTone()
{
    FTone.reset();
}
