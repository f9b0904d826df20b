// Streams the audio rig's tone as MP3 192 kbit/s stereo 44100 Hz to a local
// icecast2 for 30 s and prints the worker's CPU cost per second of audio,
// next to ffmpeg doing the same job at the same time (same ALSA device,
// libmp3lame 192k, another mount); then the time from Start to
// "Transmitindo." and from a server restart to the reconnection.
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <thread>

#include "platform/Tick.h"
#include "streaming/NativeEncoderThread.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "capture/PortAudioDevices.h"

namespace {

constexpr int KSeconds = 30;

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double ProcessCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The worker with a stopwatch on its own thread's CPU clock.
class TMeasuredWorker : public TNativeEncoderThread {
public:
    using TNativeEncoderThread::TNativeEncoderThread;
    std::atomic<double> CpuSeconds{0.0};

protected:
    void Execute() override
    {
        const double start = ThreadCpuSeconds();
        TNativeEncoderThread::Execute();
        CpuSeconds = ThreadCpuSeconds() - start;
    }
};

// Pumps hand-offs until AText is posted from the status at AFrom on.
bool WaitForStatus(const std::vector<std::string>& AStatuses, const std::string& AText, size_t AFrom,
                   int ATimeoutMs)
{
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(ATimeoutMs);
    while (GetTickCount64() < until) {
        for (size_t i = AFrom; i < AStatuses.size(); ++i)
            if (AStatuses[i] == AText)
                return true;
        TThread::CheckSynchronize(2);
    }
    return false;
}

// "0m1.234s" as printed by the shell's times.
double ShellSeconds(const std::string& AText)
{
    int minutes = 0;
    double seconds = 0;
    std::sscanf(AText.c_str(), "%dm%lfs", &minutes, &seconds);
    return minutes * 60.0 + seconds;
}

} // namespace

int main()
{
    const std::string ffmpeg = RequireProgram("ffmpeg");
    TAudioRig rig;
    TIcecastServer server;
    int device = -1;
    for (const TTavixAudioDevice& d : EnumerateAudioDevices())
        if (d.Name == TAudioRig::KMonitorDevice && d.MaxInputChannels > 0)
            device = d.Index;
    if (device < 0) {
        std::fprintf(stderr, "the rig's monitor device is missing\n");
        return 1;
    }
    rig.PlayTone(880, KSeconds + 30);

    TEncoderConfig config;
    DefaultEncoderConfig(config);
    config.ServerType = "icecast";
    config.Host = "127.0.0.1";
    config.Port = server.Port();
    config.Mount = "/stream";
    config.Password = server.SourcePassword();
    config.Codec = "audio/mpeg";
    config.Bitrate = 192;
    config.SampleRate = 44100;
    config.Channels = 2;
    config.AudioDeviceIndex = device;
    config.AudioSourceKind = askInput;
    config.NoarPath = "";

    std::vector<std::string> statuses;
    long blocks = 0;
    TMeasuredWorker worker(config);
    worker.OnStatus = [&](TNativeEncoderThread*, const std::string& AText, bool) { statuses.push_back(AText); };
    worker.OnLevel = [&](TNativeEncoderThread*, double, double, double, double, double) { ++blocks; };

    const uint64_t startTick = GetTickCount64();
    worker.Start();
    if (!WaitForStatus(statuses, "Transmitindo.", 0, 15000)) {
        std::fprintf(stderr, "no \"Transmitindo.\"\n");
        return 1;
    }
    const uint64_t startToStreaming = GetTickCount64() - startTick;

    // ffmpeg on the same device, at the same time, for the same duration,
    // with LAME at the quality setting the worker uses (2; ffmpeg's own
    // default leaves LAME's faster 3).
    std::string ffmpegTimes;
    std::thread rival([&] {
        ffmpegTimes = RunCommand(
            "sh -c " + ShellQuote(ffmpeg + " -nostdin -v error -f alsa -ac 2 -ar 44100 -i " +
                                  TAudioRig::KMonitorDevice + " -t " + std::to_string(KSeconds) +
                                  " -c:a libmp3lame -b:a 192k -compression_level 2 -content_type audio/mpeg -f mp3 icecast://source:" +
                                  server.SourcePassword() + "@127.0.0.1:" + std::to_string(server.Port()) +
                                  "/ffmpeg >/dev/null 2>&1; times"));
    });
    const double processCpuStart = ProcessCpuSeconds();
    const long blocksStart = blocks;
    const uint64_t until = GetTickCount64() + KSeconds * 1000ULL;
    while (GetTickCount64() < until)
        TThread::CheckSynchronize(5);
    const double processCpu = ProcessCpuSeconds() - processCpuStart;
    const double audioSeconds = static_cast<double>(blocks - blocksStart) * 2048.0 / 44100.0;
    rival.join();

    // A server restart: down and straight up again.
    const size_t mark = statuses.size();
    server.Stop();
    const uint64_t stoppedTick = GetTickCount64();
    server.Start();
    const uint64_t upTick = GetTickCount64();
    const bool back = WaitForStatus(statuses, "Reconectado ao servidor de radio.", mark, 20000);
    const uint64_t backTick = GetTickCount64();

    worker.StopNow();
    while (!worker.Finished())
        TThread::CheckSynchronize(5);
    worker.WaitFor();

    // times prints the shell's own line, then its children's.
    const size_t childLine = ffmpegTimes.find('\n');
    char user[32] = "", sys[32] = "";
    std::sscanf(ffmpegTimes.c_str() + (childLine == std::string::npos ? 0 : childLine + 1), "%31s %31s", user, sys);
    const double ffmpegCpu = ShellSeconds(user) + ShellSeconds(sys);

    const double workerCpuPerSecond = worker.CpuSeconds / (static_cast<double>(blocks) * 2048.0 / 44100.0);
    std::printf("MP3 192 kbit/s stereo 44100 Hz, %d s, rig tone to icecast2 on loopback\n", KSeconds);
    std::printf("worker thread CPU per second of audio:   %.2f ms (whole transmission, %.1f s of audio)\n",
                workerCpuPerSecond * 1000.0, static_cast<double>(blocks) * 2048.0 / 44100.0);
    std::printf("whole process CPU per second of audio:   %.2f ms (during the %d s window, %.1f s of audio)\n",
                processCpu / audioSeconds * 1000.0, KSeconds, audioSeconds);
    std::printf("ffmpeg CPU per second of audio:          %.2f ms (%.2f s for %d s)\n",
                ffmpegCpu / KSeconds * 1000.0, ffmpegCpu, KSeconds);
    std::printf("ratio worker thread / ffmpeg:            %.2f\n", workerCpuPerSecond * KSeconds / ffmpegCpu);
    std::printf("ratio whole process / ffmpeg:            %.2f\n", processCpu / audioSeconds * KSeconds / ffmpegCpu);
    std::printf("Start to \"Transmitindo.\":                %llu ms\n",
                static_cast<unsigned long long>(startToStreaming));
    if (back)
        std::printf("server restart to \"Reconectado ...\":    %llu ms after it was up again (%llu ms after it went down)\n",
                    static_cast<unsigned long long>(backTick - upTick),
                    static_cast<unsigned long long>(backTick - stoppedTick));
    else
        std::printf("no reconnection within 20 s\n");
    return 0;
}
