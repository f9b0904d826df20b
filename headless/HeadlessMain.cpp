#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

#include "capture/AudioComboItems.h"
#include "capture/PortAudioDevices.h"
#include "capture/SoundServerDevices.h"
#include "control/ControlServer.h"
#include "headless/DeviceListing.h"
#include "headless/HeadlessStation.h"
#include "headless/LogLine.h"
#include "platform/OpenFileLimit.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "settings/EncoderConfig.h"

namespace {

// Nothing on screen to redraw: the loop wakes at once for what the
// workers hand over, and otherwise ten times a second is plenty.
constexpr int KLoopMs = 100;
// Listener queries still out at the end are waited for this long.
constexpr uint64_t KQueryGraceMs = 1500;

std::atomic<bool> GStop{false};

void OnSignal(int)
{
    GStop.store(true);
}

const char* const KUsage =
    "Usage: TavixEncoder [--headless [--config PATH] [--control-socket PATH]] [--list-devices] [--help]\n"
    "                    [--version]\n"
    "\n"
    "  (no option)     open the window\n"
    "  --headless      stream the settings file's transmission at once, with no\n"
    "                  window, until SIGTERM or SIGINT; events go to standard output\n"
    "  --config PATH   the settings file to use (default: the window's own)\n"
    "  --control-socket PATH\n"
    "                  serve the control interface ([Controle] Ativo=1) on this\n"
    "                  Unix-domain socket, in a folder only this user may enter,\n"
    "                  instead of a port of 127.0.0.1\n"
    "  --list-devices  print the capture channels, tab-separated: DeviceIndex,\n"
    "                  SourceKind, DeviceName, caption, DeviceId\n"
    "  --help          this text\n"
    "  --version       the program's version\n";

void Log(bool AIsError, const std::string& AText)
{
    std::cout << LogLine(std::chrono::system_clock::now(), AIsError, AText) << std::endl;
}

int RunHeadless(const std::string& AConfigPath, const std::string& AControlSocket)
{
    TThread::SetMainThread();
    // Defaults alone cannot stream: a mistyped path is told as such, not
    // as a setting missing from it.
    if (access(AConfigPath.c_str(), F_OK) != 0) {
        Log(true, errno == ENOENT ? "Arquivo de configuracao nao encontrado: " + AConfigPath + "."
                                  : "Arquivo de configuracao inacessivel: " + AConfigPath + " (" +
                                        std::strerror(errno) + ").");
        return 1;
    }
    TEncoderConfig loaded;
    LoadEncoderConfigFrom(AConfigPath, loaded);
    if (const std::string error = SettingsLoadError(AConfigPath); !error.empty()) {
        Log(true, error);
        return 1;
    }
    std::string unsafe;
    const TEncoderConfig config = ObeyableSettings(AConfigPath, loaded, unsafe);
    RaiseOpenFileLimit();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Log(false, "TAVIX Encoder " TAVIX_VERSION " sem janela, configuracao " + AConfigPath);
    if (!unsafe.empty())
        Log(true, unsafe);
    if (const std::string exposed = SettingsExposedWarning(AConfigPath, config); !exposed.empty())
        Log(true, exposed);
    THeadlessStation station(config, std::cout);
    TControlServer control(station.Station());
    if (config.ControlEnabled) {
        // The station goes on the air all the same: the interface is a
        // convenience, the programme is the job.
        std::string error;
        if (!AControlSocket.empty() ? control.StartOnSocket(AControlSocket, config.ControlToken, error)
                                    : control.Start(config.ControlPort, config.ControlToken, error))
            Log(false, !AControlSocket.empty()
                           ? "Interface de controle no soquete " + AControlSocket
                           : "Interface de controle em http://127.0.0.1:" + std::to_string(config.ControlPort) + "/");
        else
            Log(true, error + " A transmissao segue sem a interface de controle.");
    }
    station.Start();
    int code = 0;
    while (!GStop.load()) {
        TThread::RunQueued(KLoopMs);
        station.Tick();
        if (station.EndedByItself()) {
            code = 1;
            break;
        }
    }
    control.Stop();
    station.Stop();
    const uint64_t until = GetTickCount64() + KQueryGraceMs;
    while (station.PendingQueries() > 0 && GetTickCount64() < until)
        TThread::RunQueued(KLoopMs);
    if (code != 0)
        std::cerr << station.ExitReason() << std::endl;
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    bool headless = false, list = false;
    std::string configPath, controlSocket;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << KUsage;
            return 0;
        }
        if (a == "--version") {
            std::cout << "TAVIX Encoder " TAVIX_VERSION "\n";
            return 0;
        }
        if (a == "--headless") {
            headless = true;
        } else if (a == "--list-devices") {
            list = true;
        } else if (a == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (a == "--control-socket" && i + 1 < argc) {
            controlSocket = argv[++i];
        } else {
            std::cerr << "Opcao desconhecida: " << a << "\n\n" << KUsage;
            return 2;
        }
    }
    if (list) {
        std::cout << DeviceListingText(BuildCaptureChannelList(EnumerateAudioDevices(), EnumerateSoundServerDevices()));
        return 0;
    }
    if (!headless) {
        std::cerr << KUsage;
        return 2;
    }
    return RunHeadless(configPath.empty() ? ConfigFilePath() : configPath, controlSocket);
}
