// The same job for every source encoder on this machine: capture the rig's
// music-like signal (pink noise with a tone) from the sink's monitor, encode
// MP3 192 kbit/s CBR at LAME quality 2, send it to icecast2 on loopback.
// Each program is a process of its own, measured whole (its process tree,
// user + system CPU) between two marks after it settled; rounds go through
// every program in turn, so a slow moment of the machine hits them all.
// What each sent is checked against 192 kbit/s by icecast2's statistics.
// Beside them: LAME alone on the same signal, in this process.
//
//   peer_bench [rounds] [seconds measured] [name filter]
//
// The peers are Debian's packages: bench/setup-peers installs them.
#include <lame/lame.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

#include "capture/AudioComboItems.h"
#include "capture/PortAudioDevices.h"
#include "capture/SoundServerChannel.h"
#include "settings/EncoderConfig.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int KSettleMs = 5000;
constexpr double KBytesPerSecond = 192000 / 8.0;

std::string Binary(const std::string& ARelative)
{
    const char* dir = std::getenv("TAVIX_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/" + ARelative;
}

std::vector<long> Children(pid_t APid)
{
    std::vector<long> out;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(APid) + "/task", error)) {
        std::ifstream in(task.path() / "children");
        for (long child; in >> child;)
            out.push_back(child);
    }
    return out;
}

// utime + stime of a process and everything it started, in seconds.
double TreeCpuSeconds(pid_t APid)
{
    double total = ProcessCpuSeconds(APid);
    for (const long child : Children(APid))
        total += TreeCpuSeconds(static_cast<pid_t>(child));
    return total;
}

long TreeResidentKiB(pid_t APid)
{
    const std::string status = ReadTextFile("/proc/" + std::to_string(APid) + "/status");
    const size_t at = status.find("VmRSS:");
    long total = at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
    for (const long child : Children(APid))
        total += TreeResidentKiB(static_cast<pid_t>(child));
    return total;
}

uint64_t MountBytesRead(const TIcecastServer& AServer, const std::string& AMount)
{
    const std::string stats = RunCommand("curl -s -m 5 -u " + AServer.AdminUser() + ":" + AServer.AdminPassword() +
                                         " " + ShellQuote(AServer.BaseUrl() + "/admin/stats"));
    const size_t source = stats.find("<source mount=\"" + AMount + "\">");
    const size_t at = source == std::string::npos ? source : stats.find("<total_bytes_read>", source);
    return at == std::string::npos ? 0 : std::strtoull(stats.c_str() + at + std::strlen("<total_bytes_read>"), nullptr, 10);
}

struct TRenewal {
    uint64_t Bytes = 0;
    std::chrono::steady_clock::time_point When;
};

// Waits for the mount's byte count to change (at most 7 s).
TRenewal NextRenewal(const TIcecastServer& AServer, const std::string& AMount)
{
    const uint64_t before = MountBytesRead(AServer, AMount);
    TRenewal now{before, std::chrono::steady_clock::now()};
    for (int i = 0; i < 70 && now.Bytes == before; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        now = {MountBytesRead(AServer, AMount), std::chrono::steady_clock::now()};
    }
    return now;
}

struct TPeer {
    std::string Name;
    std::string Mount;
    // Writes what the program needs into ADir and gives its command line.
    std::function<std::vector<std::string>(const TTempDir& ADir)> Command;
};

struct TFigures {
    std::vector<double> MsPerSecond;
    std::vector<double> ResidentMiB;
    std::vector<double> Kbps;
};

struct TRun {
    double MsPerSecond = 0;
    double ResidentMiB = 0;
    // What reached the server over the whole time on air.
    double Kbps = 0;
};

TRun MeasureOne(const TPeer& APeer, const TAudioRig& ARig, const TIcecastServer& AServer, int AMeasureMs)
{
    TTempDir dir;
    TChildProcess program(APeer.Command(dir), ARig.Environment(), dir.File("log.txt"));
    // Some take seconds to open their capture; the settling starts on air.
    for (int i = 0; i < 60 && program.Running() && MountBytesRead(AServer, APeer.Mount) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (MountBytesRead(AServer, APeer.Mount) == 0)
        throw std::runtime_error(APeer.Name + " never reached " + APeer.Mount + ": " + ReadTextFile(dir.File("log.txt")));
    std::this_thread::sleep_for(std::chrono::milliseconds(KSettleMs));
    if (!program.Running())
        throw std::runtime_error(APeer.Name + " ended: " + ReadTextFile(dir.File("log.txt")));
    // icecast2 renews a source's byte count every 5 s: the rate is taken
    // between two renewals, one before the CPU is measured, one after.
    const TRenewal first = NextRenewal(AServer, APeer.Mount);
    const double cpuFrom = TreeCpuSeconds(program.Pid());
    const auto wallFrom = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(AMeasureMs));
    const double cpuTo = TreeCpuSeconds(program.Pid());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallFrom).count();
    const TRenewal last = NextRenewal(AServer, APeer.Mount);
    const double rate = static_cast<double>(last.Bytes - first.Bytes) /
                        std::chrono::duration<double>(last.When - first.When).count();
    if (rate < 0.9 * KBytesPerSecond || rate > 1.1 * KBytesPerSecond)
        std::fprintf(stderr, "%s sent %.1f kbit/s; its log:\n%s\n", APeer.Name.c_str(), rate * 8 / 1000,
                     ReadTextFile(dir.File("log.txt")).c_str());
    return {(cpuTo - cpuFrom) * 1000.0 / seconds, TreeResidentKiB(program.Pid()) / 1024.0, rate * 8 / 1000};
}

// LAME alone: the same settings on the same kind of signal, in this
// process, as CPU per second of audio.
std::vector<double> LameAlone(int ARounds, int AQuality = 2)
{
    TTempDir dir;
    const std::string raw = dir.File("signal.raw");
    RunCommand("sox -q -n -t raw -r 44100 -c 2 -e signed -b 16 " + ShellQuote(raw) +
               " synth 20 pinknoise mix sine 440 vol 0.4");
    const std::string pcm = ReadTextFile(raw);
    const auto* samples = reinterpret_cast<const short*>(pcm.data());
    const int frames = static_cast<int>(pcm.size() / 4);
    std::vector<double> out;
    std::vector<unsigned char> mp3(frames * 5 / 4 + 7200);
    for (int round = 0; round < ARounds; ++round) {
        lame_global_flags* lame = lame_init();
        lame_set_in_samplerate(lame, 44100);
        lame_set_num_channels(lame, 2);
        lame_set_brate(lame, 192);
        lame_set_VBR(lame, vbr_off);
        lame_set_quality(lame, AQuality);
        lame_init_params(lame);
        timespec from{}, to{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &from);
        constexpr int KBlock = 4410;
        for (int at = 0; at < frames; at += KBlock) {
            const int n = std::min(KBlock, frames - at);
            lame_encode_buffer_interleaved(lame, const_cast<short*>(samples + 2 * at), n, mp3.data(),
                                           static_cast<int>(mp3.size()));
        }
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &to);
        lame_close(lame);
        const double cpu = (to.tv_sec - from.tv_sec) + (to.tv_nsec - from.tv_nsec) / 1e9;
        out.push_back(cpu * 1000.0 / (frames / 44100.0));
    }
    return out;
}

double Median(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues.empty() ? 0 : AValues[AValues.size() / 2];
}

// A program that sent less or more than 192 kbit/s (outside 10 %) did not
// do the same job: its row says so.
void PrintRow(const std::string& AName, const std::vector<double>& AValues, double ACodec, double AReference,
              const std::vector<double>& AResident, const std::vector<double>& AKbps)
{
    std::vector<double> sorted = AValues;
    std::sort(sorted.begin(), sorted.end());
    const double kbps = Median(AKbps);
    std::printf("| %-34s | %6.1f / %6.1f / %6.1f | %+6.1f | %5.2f | %6.1f | %5.1f%s |\n", AName.c_str(),
                sorted.front(), Median(sorted), sorted.back(), Median(sorted) - ACodec, Median(sorted) / AReference,
                Median(AResident), kbps, kbps > 0 && (kbps < 172.8 || kbps > 211.2) ? " (not the same job)" : "");
}

std::string TavixSettings(const TTempDir& ADir, TEncoderConfig AConfig)
{
    const std::string path = ADir.File("TavixEncoder.ini");
    SaveEncoderConfigTo(path, AConfig);
    return path;
}

} // namespace

int main(int argc, char* argv[])
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int measureMs = (argc > 2 ? std::atoi(argv[2]) : 20) * 1000;
    const std::string filter = argc > 3 ? argv[3] : "";
    for (const char* program : {"darkice", "liquidsoap", "ffmpeg"})
        if (RunCommand(std::string("command -v ") + program).empty()) {
            std::fprintf(stderr, "%s is missing: run bench/setup-peers\n", program);
            return 2;
        }
    TAudioRig rig;
    rig.PlayMusicLike(24 * 3600);
    TIcecastServer server;
    const std::string port = std::to_string(server.Port()), password = server.SourcePassword();

    TEncoderConfig base;
    DefaultEncoderConfig(base);
    base.Host = "127.0.0.1";
    base.Port = server.Port();
    base.Password = password;
    base.Bitrate = 192;
    base.SilenceAlarmEnabled = false;
    TEncoderConfig native = base, alsa = base, busy = base;
    native.Mount = "/tavix-pulse";
    alsa.Mount = "/tavix-alsa";
    for (const TAudioComboItem& item : BuildSoundServerComboItems(EnumerateSoundServerDevices()))
        if (item.DeviceId == "pulse:tavix_out" && item.SourceKind == askOutputLoopback) {
            native.AudioDeviceIndex = item.DeviceIndex;
            native.AudioSourceKind = item.SourceKind;
            native.AudioDeviceId = item.DeviceId;
            native.AudioDeviceName = item.DisplayName;
        }
    // The same with everything that watches the programme on.
    busy = native;
    busy.Mount = "/tavix-busy";
    busy.CompressorEnabled = true;
    busy.SilenceAlarmEnabled = true;
    busy.ListenerCheckEnabled = true;
    for (const TTavixAudioDevice& d : EnumerateAudioDevices())
        if (d.Name == TAudioRig::KMonitorDevice && d.MaxInputChannels > 0) {
            alsa.AudioDeviceIndex = d.Index;
            alsa.AudioDeviceName = d.Name;
        }

    const auto tavix = [](const TEncoderConfig& AConfig) {
        return [AConfig](const TTempDir& ADir) {
            return std::vector<std::string>{Binary("ui/TavixEncoderHeadless"), "--headless", "--config",
                                            TavixSettings(ADir, AConfig)};
        };
    };
    const auto darkice = [&](const std::string& AInput, const std::string& AMount) {
        return [=](const TTempDir& ADir) {
            WriteTextFile(ADir.File("darkice.cfg"),
                          "[general]\nduration = 0\nbufferSecs = 1\nreconnect = yes\nrealtime = no\n"
                          "[input]\n" + AInput + "\nsampleRate = 44100\nbitsPerSample = 16\nchannel = 2\n"
                          "[icecast2-0]\nbitrateMode = cbr\nformat = mp3\nbitrate = 192\n"
                          // DarkIce sets LAME's quality to (1 - quality) * 10.
                          "quality = 0.75\nserver = 127.0.0.1\nport = " + port + "\npassword = " + password +
                          "\nmountPoint = " + AMount.substr(1) + "\nname = bench\n");
            return std::vector<std::string>{"darkice", "-c", ADir.File("darkice.cfg")};
        };
    };
    const auto liquidsoap = [&](const std::string& AInput, const std::string& AMount) {
        return [=](const TTempDir& ADir) {
            WriteTextFile(ADir.File("bench.liq"),
                          "settings.log.stdout.set(true)\nsettings.log.file.set(false)\nsettings.init.allow_root.set(true)\n"
                          "s = " + AInput + "\n"
                          "output.icecast(%mp3(bitrate=192, internal_quality=2), host=\"127.0.0.1\", port=" +
                              port + ", password=\"" + password + "\", mount=\"" + AMount.substr(1) +
                              "\", fallible=true, s)\n");
            return std::vector<std::string>{"liquidsoap", ADir.File("bench.liq")};
        };
    };
    const auto ffmpeg = [&](const std::string& AInput, const std::string& AMount) {
        return [=](const TTempDir&) {
            std::vector<std::string> args{"ffmpeg", "-nostdin", "-v", "error"};
            std::istringstream input(AInput);
            for (std::string word; input >> word;)
                args.push_back(word);
            for (const char* word : {"-c:a", "libmp3lame", "-b:a", "192k", "-compression_level", "2",
                                     "-content_type", "audio/mpeg", "-f", "mp3"})
                args.push_back(word);
            args.push_back("icecast://source:" + password + "@127.0.0.1:" + port + AMount);
            return args;
        };
    };
    const std::vector<TPeer> all = {
        {"TAVIX --headless, sound server", "/tavix-pulse", tavix(native)},
        {"TAVIX --headless, PortAudio/ALSA", "/tavix-alsa", tavix(alsa)},
        {"TAVIX, compressor, alarm and ear on", "/tavix-busy", tavix(busy)},
        {"DarkIce, PulseAudio", "/darkice-pulse",
         darkice("device = pulseaudio\npaSourceName = tavix_out.monitor", "/darkice-pulse")},
        {"DarkIce, ALSA", "/darkice-alsa", darkice(std::string("device = ") + TAudioRig::KMonitorDevice, "/darkice-alsa")},
        {"Liquidsoap, PulseAudio", "/liquidsoap-pulse",
         liquidsoap("input.pulseaudio(device=\"tavix_out.monitor\")", "/liquidsoap-pulse")},
        {"Liquidsoap, ALSA", "/liquidsoap-alsa",
         liquidsoap(std::string("input.alsa(device=\"") + TAudioRig::KMonitorDevice + "\")", "/liquidsoap-alsa")},
        {"ffmpeg, PulseAudio", "/ffmpeg-pulse", ffmpeg("-f pulse -i tavix_out.monitor", "/ffmpeg-pulse")},
        {"ffmpeg, ALSA", "/ffmpeg-alsa", ffmpeg(std::string("-f alsa -ac 2 -ar 44100 -i ") + TAudioRig::KMonitorDevice,
                                                "/ffmpeg-alsa")},
    };
    std::vector<TPeer> peers;
    for (const TPeer& peer : all)
        if (peer.Name.find(filter) != std::string::npos)
            peers.push_back(peer);

    std::map<std::string, TFigures> figures;
    std::vector<double> lame;
    try {
        for (int round = 0; round < rounds; ++round) {
            for (const TPeer& peer : peers) {
                const TRun run = MeasureOne(peer, rig, server, measureMs);
                figures[peer.Name].MsPerSecond.push_back(run.MsPerSecond);
                figures[peer.Name].ResidentMiB.push_back(run.ResidentMiB);
                figures[peer.Name].Kbps.push_back(run.Kbps);
                std::fprintf(stderr, "round %d: %-34s %6.1f ms/s, %6.1f MiB, %5.1f kbit/s\n", round + 1,
                             peer.Name.c_str(), run.MsPerSecond, run.ResidentMiB, run.Kbps);
            }
            const std::vector<double> alone = LameAlone(1);
            lame.push_back(alone.front());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    const double codec = Median(lame);
    const double reference = figures.count(all[0].Name) ? Median(figures[all[0].Name].MsPerSecond) : codec;
    std::printf("\nMP3 192 kbit/s CBR, LAME quality 2, pink noise with a tone, to icecast2 on loopback;\n"
                "ms of CPU per second of audio (whole process tree), %d rounds of %d s after %d s settling.\n\n",
                rounds, measureMs / 1000, KSettleMs / 1000);
    std::printf("| %-34s | %-24s | %-6s | %-5s | %-6s | %-6s |\n", "program", "min / median / max", "-codec",
                "/ours", "MiB", "kbit/s");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(26, '-').c_str(),
                std::string(8, '-').c_str(), std::string(7, '-').c_str(), std::string(8, '-').c_str(),
                std::string(8, '-').c_str());
    PrintRow("LAME alone (this process)", lame, codec, reference, {0}, {0});
    for (const TPeer& peer : peers)
        PrintRow(peer.Name, figures[peer.Name].MsPerSecond, codec, reference, figures[peer.Name].ResidentMiB,
                 figures[peer.Name].Kbps);
    std::printf("\n-codec: the median beyond LAME alone; /ours: against TAVIX through the sound server.\n");
    // What a station's Qualidade setting trades.
    std::printf("\nLAME alone by quality (ms of CPU per second of audio, median of 3):");
    for (int quality = 0; quality <= 9; ++quality)
        std::printf(" q%d %.1f%s", quality, Median(LameAlone(3, quality)), quality < 9 ? "," : "\n");
    return 0;
}
