// The whole capture -> MP3 192 kbit/s (LAME quality 2) -> icecast2 job,
// against ffmpeg doing the same, on the audio rig's tone: through
// PortAudio/ALSA and through the sound server's own client library.
// Steady state only: each side streams, settles, and is measured between
// two marks. Each side alone, then both side by side; three runs each,
// min/median/max printed. Then the capture alone, as the reading thread
// costs it, and the time from Start to "Transmitindo.".
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "capture/AudioComboItems.h"
#include "capture/PortAudioCapture.h"
#include "capture/PortAudioDevices.h"
#include "capture/SoundServerChannel.h"
#include "platform/Tick.h"
#include "streaming/NativeEncoderThread.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"

namespace {

constexpr int KRuns = 3;
constexpr int KSettleMs = 3000;
constexpr int KMeasureMs = 10000;

double OwnCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// utime + stime of another process, from /proc.
double ProcessCpuSeconds(pid_t APid)
{
    std::ifstream in("/proc/" + std::to_string(APid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0.0;
    std::istringstream fields(line.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void Pump(int AMs)
{
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(AMs);
    while (GetTickCount64() < until)
        TThread::CheckSynchronize(50);
}

struct TPath {
    const char* Name;
    TEncoderConfig Config;       // our side
    std::string FfmpegInput;     // ffmpeg's "-f ... -i ..."
};

class TOurSide {
public:
    explicit TOurSide(const TEncoderConfig& AConfig) : FWorker(AConfig)
    {
        FWorker.OnStatus = [this](TNativeEncoderThread*, const std::string& AText, bool) {
            if (AText == "Transmitindo.")
                FStreamingTick = GetTickCount64();
        };
        FStartTick = GetTickCount64();
        FWorker.Start();
        while (FStreamingTick == 0 && GetTickCount64() - FStartTick < 15000)
            TThread::CheckSynchronize(20);
    }
    ~TOurSide()
    {
        FWorker.StopNow();
        while (!FWorker.Finished())
            TThread::CheckSynchronize(20);
        FWorker.WaitFor();
    }
    bool Streaming() const { return FStreamingTick != 0; }
    uint64_t StartupMs() const { return FStreamingTick - FStartTick; }

private:
    TNativeEncoderThread FWorker;
    uint64_t FStartTick = 0;
    uint64_t FStreamingTick = 0;
};

std::unique_ptr<TChildProcess> StartFfmpeg(const TPath& APath, const TIcecastServer& AServer, const std::string& ALog)
{
    const std::string url = "icecast://source:" + AServer.SourcePassword() + "@127.0.0.1:" +
                            std::to_string(AServer.Port()) + "/ffmpeg";
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error"};
    std::istringstream input(APath.FfmpegInput);
    for (std::string word; input >> word;)
        args.push_back(word);
    for (const char* a : {"-c:a", "libmp3lame", "-b:a", "192k", "-compression_level", "2", "-content_type",
                          "audio/mpeg", "-f", "mp3"})
        args.push_back(a);
    args.push_back(url);
    return std::make_unique<TChildProcess>(args, std::map<std::string, std::string>{}, ALog);
}

struct TFigures {
    std::vector<double> Ours, Ffmpeg, OursBeside, FfmpegBeside, Capture, Startup;
};

std::string Spread(std::vector<double> AValues)
{
    if (AValues.empty())
        return "n/a";
    std::sort(AValues.begin(), AValues.end());
    char buf[96];
    std::snprintf(buf, sizeof(buf), "%6.2f / %6.2f / %6.2f", AValues.front(), AValues[AValues.size() / 2],
                  AValues.back());
    return buf;
}

// Milliseconds of CPU per second of wall time between the two marks.
double Rate(double ACpuSeconds)
{
    return ACpuSeconds / (KMeasureMs / 1000.0) * 1000.0;
}

// The capture alone, read block by block as the transmission loop reads.
double CaptureCost(TEncoderConfig AConfig)
{
    const TCaptureReport quiet = [](const std::string&, bool) {};
    auto source = IsSoundServerChannel(AConfig) ? OpenSoundServerChannel(AConfig, 2048, quiet)
                                                : OpenPortAudioChannel(AConfig, quiet);
    if (!source)
        return -1;
    std::vector<float> block(2048 * static_cast<size_t>(source->Channels()));
    std::string error;
    const auto readFor = [&](int AMs, long& ABlocks) {
        const uint64_t until = GetTickCount64() + static_cast<uint64_t>(AMs);
        while (GetTickCount64() < until && source->ReadBlock(block.data(), 2048, error))
            ++ABlocks;
    };
    long blocks = 0;
    readFor(KSettleMs, blocks);
    blocks = 0;
    const double cpu0 = OwnCpuSeconds();
    readFor(KMeasureMs, blocks);
    const double audioSeconds = blocks * 2048.0 / AConfig.SampleRate;
    return (OwnCpuSeconds() - cpu0) / audioSeconds * 1000.0;
}

TFigures Measure(const TPath& APath, TIcecastServer& AServer, const std::string& ALog)
{
    TFigures f;
    for (int run = 0; run < KRuns; ++run) {
        {
            TOurSide ours(APath.Config);
            if (!ours.Streaming()) {
                std::fprintf(stderr, "%s: our side never streamed\n", APath.Name);
                return f;
            }
            f.Startup.push_back(static_cast<double>(ours.StartupMs()));
            Pump(KSettleMs);
            const double c0 = OwnCpuSeconds();
            Pump(KMeasureMs);
            f.Ours.push_back(Rate(OwnCpuSeconds() - c0));
        }
        {
            auto rival = StartFfmpeg(APath, AServer, ALog);
            Pump(KSettleMs);
            const double c0 = ProcessCpuSeconds(rival->Pid());
            Pump(KMeasureMs);
            f.Ffmpeg.push_back(Rate(ProcessCpuSeconds(rival->Pid()) - c0));
        }
        {
            TOurSide ours(APath.Config);
            auto rival = StartFfmpeg(APath, AServer, ALog);
            Pump(KSettleMs);
            const double c0 = OwnCpuSeconds(), r0 = ProcessCpuSeconds(rival->Pid());
            Pump(KMeasureMs);
            f.OursBeside.push_back(Rate(OwnCpuSeconds() - c0));
            f.FfmpegBeside.push_back(Rate(ProcessCpuSeconds(rival->Pid()) - r0));
        }
        f.Capture.push_back(CaptureCost(APath.Config));
    }
    return f;
}

void Print(const TPath& APath, const TFigures& AF)
{
    std::vector<double> ratio, ratioBeside;
    for (size_t i = 0; i < AF.Ours.size() && i < AF.Ffmpeg.size(); ++i)
        ratio.push_back(AF.Ours[i] / AF.Ffmpeg[i]);
    for (size_t i = 0; i < AF.OursBeside.size() && i < AF.FfmpegBeside.size(); ++i)
        ratioBeside.push_back(AF.OursBeside[i] / AF.FfmpegBeside[i]);
    std::printf("\n%s (ms of CPU per second, min / median / max of %d runs)\n", APath.Name, KRuns);
    std::printf("  ours alone, whole process       %s\n", Spread(AF.Ours).c_str());
    std::printf("  ffmpeg alone, whole process     %s\n", Spread(AF.Ffmpeg).c_str());
    std::printf("  ratio alone                     %s\n", Spread(ratio).c_str());
    std::printf("  ours beside ffmpeg              %s\n", Spread(AF.OursBeside).c_str());
    std::printf("  ffmpeg beside ours              %s\n", Spread(AF.FfmpegBeside).c_str());
    std::printf("  ratio side by side              %s\n", Spread(ratioBeside).c_str());
    std::printf("  capture alone, per s of audio   %s\n", Spread(AF.Capture).c_str());
    std::printf("  Start to \"Transmitindo.\" (ms)   %s\n", Spread(AF.Startup).c_str());
}

} // namespace

int main()
{
    RequireProgram("ffmpeg");
    TAudioRig rig;
    TIcecastServer server;
    rig.PlayTone(880, 3600);

    TEncoderConfig base;
    DefaultEncoderConfig(base);
    base.ServerType = "icecast";
    base.Host = "127.0.0.1";
    base.Port = server.Port();
    base.Mount = "/stream";
    base.Password = server.SourcePassword();
    base.Codec = "audio/mpeg";
    base.Bitrate = 192;
    base.SampleRate = 44100;
    base.Channels = 2;
    base.NoarPath = "";

    TPath alsa{"PortAudio/ALSA (monitor_test through the ALSA pulse plugin)", base,
               std::string("-f alsa -ac 2 -ar 44100 -i ") + TAudioRig::KMonitorDevice};
    alsa.Config.AudioDeviceIndex = -1;
    for (const TTavixAudioDevice& d : EnumerateAudioDevices())
        if (d.Name == TAudioRig::KMonitorDevice && d.MaxInputChannels > 0)
            alsa.Config.AudioDeviceIndex = d.Index;

    // The sink's own loopback, as the settings dialog stores it.
    TPath native{"Sound server (loopback of the rig's sink through libpulse)", base,
                 "-f pulse -ac 2 -ar 44100 -i tavix_out.monitor"};
    native.Config.AudioDeviceIndex = -1;
    for (const TAudioComboItem& item : BuildSoundServerComboItems(EnumerateSoundServerDevices()))
        if (item.DeviceId == "pulse:tavix_out" && item.SourceKind == askOutputLoopback) {
            native.Config.AudioDeviceIndex = item.DeviceIndex;
            native.Config.AudioSourceKind = item.SourceKind;
            native.Config.AudioDeviceId = item.DeviceId;
        }
    if (alsa.Config.AudioDeviceIndex < 0 || native.Config.AudioDeviceIndex < 0) {
        std::fprintf(stderr, "the rig's devices are missing\n");
        return 1;
    }
    std::printf("MP3 192 kbit/s stereo 44100 Hz (LAME quality 2) to icecast2 on loopback; %d s settle, %d s measured\n",
                KSettleMs / 1000, KMeasureMs / 1000);
    const std::string log = "/dev/null";
    for (const TPath* path : {&alsa, &native})
        Print(*path, Measure(*path, server, log));
    return 0;
}
