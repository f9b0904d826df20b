#include "tests/support/SoundServerRig.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

constexpr int KStartWaitMs = 8000;

// A device property as one module argument, spaces and all: the module
// argument's quotes hold the property list's own.
std::string DescriptionArgument(const std::string& AKey, const std::string& ADescription)
{
    return " " + ShellQuote(AKey + "='device.description=\"" + ADescription + "\"'");
}

} // namespace

TSoundServerRig::TSoundServerRig(TSoundServerKind AKind) : FKind(AKind)
{
    RequireProgram("pactl");
    RequireProgram("pacat");
    RequireProgram("sox");
    RequireProgram("python3"); // paces what an input source is fed
    std::filesystem::create_directories(FDir.File("run"));
    std::filesystem::permissions(FDir.File("run"), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    for (const char* sub : {"config", "state", "data"})
        std::filesystem::create_directories(FDir.File(sub));
    Apply();
    try {
        StartServer();
    } catch (...) {
        StopDaemons();
        throw;
    }
}

TSoundServerRig::~TSoundServerRig()
{
    StopTones();
    StopDaemons();
}

void TSoundServerRig::StopDaemons()
{
    // A paused server would not hear SIGTERM until the SIGKILL two seconds on.
    if (!FDaemons.empty() && FDaemons.back().second->Running())
        kill(FDaemons.back().second->Pid(), SIGCONT);
    while (!FDaemons.empty())
        FDaemons.pop_back(); // reverse order of start, each by its own process id
}

std::map<std::string, std::string> TSoundServerRig::Environment() const
{
    // The same keys for both servers, so applying one rig replaces the other.
    const std::string run = FDir.File("run");
    const std::string socket = FKind == TSoundServerKind::PulseAudio ? run + "/pulse.sock"
                                                                     : run + "/pulse/native";
    return {{"PULSE_SERVER", "unix:" + socket},
            {"PULSE_RUNTIME_PATH", run + "/pulse"},
            {"PULSE_STATE_PATH", FDir.File("state/pulse")},
            {"XDG_RUNTIME_DIR", run},
            {"XDG_CONFIG_HOME", FDir.File("config")},
            {"XDG_STATE_HOME", FDir.File("state")},
            {"XDG_DATA_HOME", FDir.File("data")},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + run + "/bus"}};
}

void TSoundServerRig::Apply() const
{
    for (const auto& [k, v] : Environment())
        setenv(k.c_str(), v.c_str(), 1);
}

TChildProcess& TSoundServerRig::Start(const std::vector<std::string>& AArgs)
{
    RequireProgram(AArgs[0]);
    FDaemons.emplace_back(AArgs[0], std::make_unique<TChildProcess>(AArgs, Environment(),
                                                                    FDir.File(AArgs[0] + ".log")));
    return *FDaemons.back().second;
}

void TSoundServerRig::Fail(const std::string& AWhat) const
{
    std::string text = AWhat;
    for (const auto& [name, process] : FDaemons)
        text += "\n--- " + name + ".log:\n" + ReadTextFile(FDir.File(name + ".log"));
    throw std::runtime_error(text);
}

void TSoundServerRig::WaitForFile(const std::string& APath, const std::string& AWhat)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(KStartWaitMs);
    while (!std::filesystem::exists(APath)) {
        for (auto& [name, process] : FDaemons)
            if (!process->Running())
                Fail(name + " ended while waiting for " + AWhat);
        if (std::chrono::steady_clock::now() > until)
            Fail(AWhat + " did not appear at " + APath);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void TSoundServerRig::WaitForServer()
{
    const std::string env = "PULSE_SERVER=" + ShellQuote(Environment().at("PULSE_SERVER"));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(KStartWaitMs);
    int code = -1;
    while (RunCommand(env + " pactl info >/dev/null 2>&1", &code), code != 0) {
        if (std::chrono::steady_clock::now() > until)
            Fail("the sound server did not answer pactl info");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void TSoundServerRig::StartPulseAudio()
{
    const std::string script = FDir.File("pa.pa");
    WriteTextFile(script, "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                              FDir.File("run/pulse.sock") + "\n");
    Start({"pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
           "--disallow-exit"});
    WaitForFile(FDir.File("run/pulse.sock"), "pulseaudio's socket");
    WaitForServer();
}

void TSoundServerRig::StartPipeWire()
{
    RequireProgram("pw-cli");
    const std::string run = FDir.File("run");
    Start({"dbus-daemon", "--session", "--address=unix:path=" + run + "/bus", "--nofork",
           "--nopidfile"});
    WaitForFile(run + "/bus", "the session bus");
    Start({"pipewire"});
    WaitForFile(run + "/pipewire-0", "pipewire's socket");
    Start({"wireplumber"});
    Start({"pipewire-pulse"});
    WaitForFile(run + "/pulse/native", "pipewire-pulse's socket");
    WaitForServer();
    // Streams are linked to devices by the session manager: without it a
    // capture would open and never receive a byte.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(KStartWaitMs);
    const std::string clients = "XDG_RUNTIME_DIR=" + ShellQuote(run) + " pw-cli ls Client 2>&1";
    while (RunCommand(clients).find("WirePlumber") == std::string::npos) {
        if (std::chrono::steady_clock::now() > until)
            Fail("wireplumber did not join pipewire");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void TSoundServerRig::StopServer()
{
    StopTones();
    StopDaemons();
    // A socket left behind would pass for the new server's.
    for (const char* socket : {"run/pulse.sock", "run/pulse/native", "run/pipewire-0", "run/bus"})
        std::filesystem::remove(FDir.File(socket));
    FInputFifos.clear();
}

void TSoundServerRig::StartServer()
{
    if (FKind == TSoundServerKind::PulseAudio)
        StartPulseAudio();
    else
        StartPipeWire();
}

void TSoundServerRig::SignalServer(int ASignal)
{
    // Pid() is -1 once the process has ended, and kill(-1, ...) would reach
    // every process there is.
    if (FDaemons.empty() || !FDaemons.back().second->Running())
        throw std::runtime_error("the sound server is not running");
    kill(FDaemons.back().second->Pid(), ASignal);
}

void TSoundServerRig::PauseServer()
{
    SignalServer(SIGSTOP);
}

void TSoundServerRig::ResumeServer()
{
    SignalServer(SIGCONT);
}

std::string TSoundServerRig::Pactl(const std::string& AArgs) const
{
    std::string env;
    for (const auto& [k, v] : Environment())
        env += k + "=" + ShellQuote(v) + " ";
    int code = -1;
    const std::string out = RunCommand(env + "pactl " + AArgs + " 2>&1", &code);
    if (code != 0)
        throw std::runtime_error("pactl " + AArgs + ": " + out);
    return out;
}

uint32_t TSoundServerRig::LoadNullSink(const std::string& AName, const std::string& ADescription)
{
    return static_cast<uint32_t>(std::stoul(
        Pactl("load-module module-null-sink sink_name=" + ShellQuote(AName) +
              DescriptionArgument("sink_properties", ADescription))));
}

uint32_t TSoundServerRig::LoadInputSource(const std::string& AName, const std::string& ADescription)
{
    const std::string fifo = FDir.File("input-" + AName + ".fifo");
    const uint32_t index = static_cast<uint32_t>(std::stoul(
        Pactl("load-module module-pipe-source source_name=" + ShellQuote(AName) +
              " file=" + ShellQuote(fifo) + " format=float32le rate=48000 channels=2" +
              DescriptionArgument("source_properties", ADescription))));
    FInputFifos[AName] = fifo;
    return index;
}

void TSoundServerRig::UnloadModule(uint32_t AIndex)
{
    Pactl("unload-module " + std::to_string(AIndex));
}

void TSoundServerRig::PlayTone(const std::string& ADevice, double AFreqHz, double ASeconds,
                               double AAmplitude)
{
    std::string cmd = "sox -q -n -t raw -r 48000 -c 2 -e float -b 32 - synth " +
                      std::to_string(ASeconds) + " sine " + std::to_string(AFreqHz) + " vol " +
                      std::to_string(AAmplitude);
    const auto fifo = FInputFifos.find(ADevice);
    // A pipe source has no clock of its own: written at once, the whole
    // tone would arrive in a burst no capture card gives. Paced at real
    // time, 20 ms of 48000 Hz stereo float a write.
    if (fifo != FInputFifos.end())
        cmd += " | python3 -c " +
               ShellQuote("import sys, time\n"
                          "start = time.monotonic()\n"
                          "n = 0\n"
                          "while True:\n"
                          "    chunk = sys.stdin.buffer.read(7680)\n"
                          "    if not chunk: break\n"
                          "    sys.stdout.buffer.write(chunk); sys.stdout.buffer.flush()\n"
                          "    n += 1\n"
                          "    time.sleep(max(0.0, start + n * 0.02 - time.monotonic()))\n") +
               " > " + ShellQuote(fifo->second);
    else
        cmd += " | pacat --device=" + ShellQuote(ADevice) +
               " --rate=48000 --channels=2 --format=float32le --latency-msec=50";
    FTones.push_back(std::make_unique<TChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", cmd}, Environment(), FDir.File("tone.log")));
}

void TSoundServerRig::StopTones()
{
    while (!FTones.empty())
        FTones.pop_back();
}
