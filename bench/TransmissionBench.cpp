// The whole capture -> MP3 192 kbit/s (LAME quality 2) -> icecast2 job,
// against ffmpeg doing the same, on the audio rig's tone: through
// PortAudio/ALSA and through the sound server's own client library.
// Steady state only: each side streams, settles, and is measured between
// two marks. Each side alone, then both side by side; then the same with
// each side also recording the MP3 into a file; three runs each,
// min/median/max printed. Then the capture alone, as the reading thread
// costs it, the time from Start to "Transmitindo.", and one, two and four
// servers at once beside ffmpeg encoding as many outputs.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "capture/AudioComboItems.h"
#include "capture/PortAudioCapture.h"
#include "capture/PortAudioDevices.h"
#include "capture/SoundServerChannel.h"
#include "engine/NativeEncoderThread.h"
#include "platform/Tick.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int KRuns = 3;
constexpr int KSettleMs = 3000;
constexpr int KMeasureMs = 10000;
constexpr double KBytesPerSecond = 192000 / 8.0;

double OwnCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void Pump(int AMs)
{
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(AMs);
    while (GetTickCount64() < until)
        TThread::RunQueued(50);
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
        FWorker.OnOutput = [this](TNativeEncoderThread*, int AServer, const TOutputState& AState) {
            if (AServer == 1 && AState.Phase == TOutputPhase::OnAir && FStreamingTick == 0)
                FStreamingTick = GetTickCount64();
        };
        FWorker.OnRecord = [this](TNativeEncoderThread*, const std::string&, const std::string& AText,
                                  bool AIsError) {
            if (AIsError)
                FRecordError = AText;
        };
        FStartTick = GetTickCount64();
        FWorker.Start();
        while (FStreamingTick == 0 && GetTickCount64() - FStartTick < 15000)
            TThread::RunQueued(20);
    }
    ~TOurSide()
    {
        FWorker.StopNow();
        while (!FWorker.Finished())
            TThread::RunQueued(20);
        FWorker.WaitFor();
    }
    bool Streaming() const { return FStreamingTick != 0; }
    uint64_t StartupMs() const { return FStreamingTick - FStartTick; }
    // The recording's last complaint, if any.
    const std::string& RecordError() const { return FRecordError; }

private:
    TNativeEncoderThread FWorker;
    std::string FRecordError;
    uint64_t FStartTick = 0;
    uint64_t FStreamingTick = 0;
};

// A side's recording folder, made before the side starts and checked once
// it has stopped: a figure taken while nothing was recorded would be a lie.
class TRecording {
public:
    explicit TRecording(bool AOn) : FOn(AOn) {}
    bool On() const { return FOn; }
    const std::string& Folder() const { return FDir.Path(); }
    // Throws unless the folder holds one MP3 of about 192 kbit/s for as
    // long as its side ran; returns its size in kB.
    double Verify(const std::string& AWho, const std::string& AComplaint = "") const
    {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(FDir.Path()))
            files.push_back(entry.path());
        const std::string who = AWho + "'s recording in " + FDir.Path();
        const std::string why = AComplaint.empty() ? "" : " (" + AComplaint + ")";
        if (files.size() != 1 || files[0].extension() != ".mp3")
            throw std::runtime_error(who + ": " + std::to_string(files.size()) + " files, not one MP3" + why);
        const double bytes = static_cast<double>(std::filesystem::file_size(files[0]));
        const double ranSeconds = static_cast<double>(GetTickCount64() - FStartTick) / 1000.0;
        const double least = (KSettleMs + KMeasureMs) / 1000.0 * KBytesPerSecond * 0.9;
        const double most = ranSeconds * KBytesPerSecond * 1.1 + 8192;
        if (bytes < least || bytes > most) {
            char buf[160];
            std::snprintf(buf, sizeof(buf), ": %.0f bytes, expected %.0f to %.0f for %.1f s", bytes, least, most,
                          ranSeconds);
            throw std::runtime_error(who + buf + why);
        }
        return bytes / 1000.0;
    }

private:
    bool FOn;
    TTempDir FDir;
    uint64_t FStartTick = GetTickCount64();
};

TEncoderConfig WithRecording(TEncoderConfig AConfig, const TRecording& ARecording)
{
    AConfig.RecordEnabled = ARecording.On();
    AConfig.RecordFolder = ARecording.Folder();
    AConfig.RecordSplitMinutes = 0;
    return AConfig;
}

std::string FfmpegMount(int AServer)
{
    return AServer == 1 ? "/ffmpeg" : "/ffmpeg" + std::to_string(AServer);
}

// Recording, ffmpeg's tee muxer writes its one encode to the server and
// the file, as ours does.
// With AServers above one, each further server is one more encode of the
// same capture to a mount of its own, as ours does it.
std::unique_ptr<TChildProcess> StartFfmpeg(const TPath& APath, const TIcecastServer& AServer, const std::string& ALog,
                                           const TRecording& ARecording, int AServers = 1)
{
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error"};
    std::istringstream input(APath.FfmpegInput);
    for (std::string word; input >> word;)
        args.push_back(word);
    const auto encode = [&args] {
        for (const char* a : {"-c:a", "libmp3lame", "-b:a", "192k", "-compression_level", "2"})
            args.push_back(a);
    };
    const auto mount = [&AServer](int ANumber) {
        return "icecast://source:" + AServer.SourcePassword() + "@127.0.0.1:" + std::to_string(AServer.Port()) +
               FfmpegMount(ANumber);
    };
    if (ARecording.On()) {
        encode();
        // The icecast protocol announces audio/mpeg by default.
        for (const char* a : {"-map", "0:a", "-f", "tee"})
            args.push_back(a);
        args.push_back("[f=mp3]" + mount(1) + "|[f=mp3]" + ARecording.Folder() + "/ffmpeg.mp3");
        return std::make_unique<TChildProcess>(args, std::map<std::string, std::string>{}, ALog);
    }
    for (int n = 1; n <= AServers; ++n) {
        encode();
        for (const char* a : {"-content_type", "audio/mpeg", "-f", "mp3"})
            args.push_back(a);
        args.push_back(mount(n));
    }
    return std::make_unique<TChildProcess>(args, std::map<std::string, std::string>{}, ALog);
}

// One set-up of both sides: each alone, then side by side.
struct TSides {
    std::vector<double> Ours, Ffmpeg, OursBeside, FfmpegBeside;
};

struct TFigures {
    TSides Plain, Recording;
    std::vector<double> Capture, Startup, RecordedKb;
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

// False when our side never streamed.
bool MeasureSides(const TPath& APath, bool ARecord, TIcecastServer& AServer, const std::string& ALog, TSides& AInto,
                  TFigures& AFigures)
{
    {
        TRecording recording(ARecord);
        std::string complaint;
        {
            TOurSide ours(WithRecording(APath.Config, recording));
            if (!ours.Streaming()) {
                std::fprintf(stderr, "%s: our side never streamed\n", APath.Name);
                return false;
            }
            if (!ARecord)
                AFigures.Startup.push_back(static_cast<double>(ours.StartupMs()));
            Pump(KSettleMs);
            const double c0 = OwnCpuSeconds();
            Pump(KMeasureMs);
            AInto.Ours.push_back(Rate(OwnCpuSeconds() - c0));
            complaint = ours.RecordError();
        }
        if (ARecord)
            AFigures.RecordedKb.push_back(recording.Verify("ours", complaint));
    }
    {
        TRecording recording(ARecord);
        {
            auto rival = StartFfmpeg(APath, AServer, ALog, recording);
            Pump(KSettleMs);
            const double c0 = ProcessCpuSeconds(rival->Pid());
            Pump(KMeasureMs);
            AInto.Ffmpeg.push_back(Rate(ProcessCpuSeconds(rival->Pid()) - c0));
        }
        if (ARecord)
            AFigures.RecordedKb.push_back(recording.Verify("ffmpeg"));
    }
    {
        TRecording ourRecording(ARecord), rivalRecording(ARecord);
        std::string complaint;
        {
            TOurSide ours(WithRecording(APath.Config, ourRecording));
            auto rival = StartFfmpeg(APath, AServer, ALog, rivalRecording);
            Pump(KSettleMs);
            const double c0 = OwnCpuSeconds(), r0 = ProcessCpuSeconds(rival->Pid());
            Pump(KMeasureMs);
            AInto.OursBeside.push_back(Rate(OwnCpuSeconds() - c0));
            AInto.FfmpegBeside.push_back(Rate(ProcessCpuSeconds(rival->Pid()) - r0));
            complaint = ours.RecordError();
        }
        if (ARecord) {
            AFigures.RecordedKb.push_back(ourRecording.Verify("ours beside ffmpeg", complaint));
            AFigures.RecordedKb.push_back(rivalRecording.Verify("ffmpeg beside ours"));
        }
    }
    return true;
}

TFigures Measure(const TPath& APath, TIcecastServer& AServer, const std::string& ALog)
{
    TFigures f;
    for (int run = 0; run < KRuns; ++run) {
        if (!MeasureSides(APath, false, AServer, ALog, f.Plain, f) ||
            !MeasureSides(APath, true, AServer, ALog, f.Recording, f))
            return f;
        f.Capture.push_back(CaptureCost(APath.Config));
    }
    return f;
}

// AA[i] op AB[i], run by run.
template <class TOp> std::vector<double> Pairwise(const std::vector<double>& AA, const std::vector<double>& AB, TOp AOp)
{
    std::vector<double> out;
    for (size_t i = 0; i < AA.size() && i < AB.size(); ++i)
        out.push_back(AOp(AA[i], AB[i]));
    return out;
}

void Line(const char* ALabel, const std::vector<double>& AValues)
{
    std::printf("  %-32s%s\n", ALabel, Spread(AValues).c_str());
}

void Print(const TPath& APath, const TFigures& AF)
{
    const auto ratio = [](double AOurs, double AFfmpeg) { return AOurs / AFfmpeg; };
    const auto minus = [](double AOn, double AOff) { return AOn - AOff; };
    const TSides& off = AF.Plain;
    const TSides& on = AF.Recording;
    std::printf("\n%s (ms of CPU per second, min / median / max of %d runs)\n", APath.Name, KRuns);
    Line("ours alone, whole process", off.Ours);
    Line("ffmpeg alone, whole process", off.Ffmpeg);
    Line("ratio alone", Pairwise(off.Ours, off.Ffmpeg, ratio));
    Line("ours beside ffmpeg", off.OursBeside);
    Line("ffmpeg beside ours", off.FfmpegBeside);
    Line("ratio side by side", Pairwise(off.OursBeside, off.FfmpegBeside, ratio));
    Line("ours recording, alone", on.Ours);
    Line("ffmpeg recording, alone", on.Ffmpeg);
    Line("ratio recording, alone", Pairwise(on.Ours, on.Ffmpeg, ratio));
    Line("ours recording beside ffmpeg's", on.OursBeside);
    Line("ffmpeg recording beside ours", on.FfmpegBeside);
    Line("ratio recording, side by side", Pairwise(on.OursBeside, on.FfmpegBeside, ratio));
    Line("recording costs ours, on - off", Pairwise(on.Ours, off.Ours, minus));
    Line("recording costs ffmpeg, on-off", Pairwise(on.Ffmpeg, off.Ffmpeg, minus));
    Line("recorded files checked (kB)", AF.RecordedKb);
    Line("capture alone, per s of audio", AF.Capture);
    Line("Start to \"Transmitindo.\" (ms)", AF.Startup);
}

// Ours with AServers server outputs (MP3 192 kbit/s each, a mount each),
// then ffmpeg with as many encodes, each alone; every mount must be on the
// server while measured, or the figure would be of nothing.
void MeasureOutputs(const TPath& APath, TIcecastServer& AServer, int AServers, std::vector<double>& AOurs,
                    std::vector<double>& AFfmpeg)
{
    const auto expectMounts = [&](const std::string& AWho, const std::function<std::string(int)>& AMount) {
        const std::string status = AServer.StatusJson();
        for (int n = 1; n <= AServers; ++n)
            if (status.find("\"listenurl\":\"" + AServer.BaseUrl() + AMount(n) + "\"") == std::string::npos)
                throw std::runtime_error(AWho + ": mount " + AMount(n) + " is not on the server");
    };
    TEncoderConfig config = APath.Config;
    for (int n = 2; n <= AServers; ++n) {
        TServerRecord& s = config.ExtraServers[static_cast<size_t>(n - 2)];
        s.Enabled = true;
        s.ServerType = config.ServerType;
        s.Host = config.Host;
        s.Port = config.Port;
        s.Mount = "/stream" + std::to_string(n);
        s.Password = config.Password;
        s.Codec = config.Codec;
        s.Bitrate = config.Bitrate;
        s.Channels = config.Channels;
    }
    {
        TOurSide ours(config);
        Pump(KSettleMs);
        expectMounts("ours", [](int n) { return n == 1 ? std::string("/stream") : "/stream" + std::to_string(n); });
        const double c0 = OwnCpuSeconds();
        Pump(KMeasureMs);
        AOurs.push_back(Rate(OwnCpuSeconds() - c0));
    }
    TRecording none(false);
    auto rival = StartFfmpeg(APath, AServer, "/dev/null", none, AServers);
    Pump(KSettleMs);
    expectMounts("ffmpeg", FfmpegMount);
    const double c0 = ProcessCpuSeconds(rival->Pid());
    Pump(KMeasureMs);
    AFfmpeg.push_back(Rate(ProcessCpuSeconds(rival->Pid()) - c0));
}

void PrintOutputs(const TPath& APath, TIcecastServer& AServer)
{
    std::printf("\n%s, several servers (ms of CPU per second, min / median / max of %d runs, each side alone)\n",
                APath.Name, KRuns);
    std::vector<double> ours[3], ffmpeg[3];
    const int counts[3] = {1, 2, 4};
    for (int run = 0; run < KRuns; ++run)
        for (int i = 0; i < 3; ++i)
            MeasureOutputs(APath, AServer, counts[i], ours[i], ffmpeg[i]);
    const auto perServer = [](double AFour, double AOne) { return (AFour - AOne) / 3.0; };
    const char* labels[3][2] = {{"ours, 1 server", "ffmpeg, 1 output"},
                                {"ours, 2 servers", "ffmpeg, 2 outputs"},
                                {"ours, 4 servers", "ffmpeg, 4 outputs"}};
    for (int i = 0; i < 3; ++i) {
        Line(labels[i][0], ours[i]);
        Line(labels[i][1], ffmpeg[i]);
    }
    Line("ours, each server beyond one", Pairwise(ours[2], ours[0], perServer));
    Line("ffmpeg, each output beyond one", Pairwise(ffmpeg[2], ffmpeg[0], perServer));
}

} // namespace

// "transmission_bench outputs" measures the several servers alone.
int main(int argc, char* argv[])
{
    const bool outputsOnly = argc > 1 && std::string(argv[1]) == "outputs";
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
    std::printf("Recording: each side also writes the MP3 into a file in a temporary folder, from its one\n"
                "encode (ffmpeg: the tee muxer). The capture runs in real time: a second measured is a second of audio. Recording\n"
                "costs: on minus off, each side alone, in the same run.\n");
    const std::string log = "/dev/null";
    try {
        if (!outputsOnly)
            for (const TPath* path : {&alsa, &native})
                Print(*path, Measure(*path, server, log));
        PrintOutputs(alsa, server);
    } catch (const std::exception& AError) {
        std::fflush(stdout);
        std::fprintf(stderr, "\nFAILED: %s\n", AError.what());
        return 1;
    }
    return 0;
}
