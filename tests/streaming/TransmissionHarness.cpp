#include "tests/streaming/TransmissionHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "capture/AudioComboItems.h"
#include "capture/PortAudioDevices.h"
#include "capture/SoundServerDevices.h"
#include "platform/Tick.h"
#include "tests/codecs/CodecTestSupport.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

namespace {

TAudioRig& Rig()
{
    // Destroyed at exit, which stops the daemon this process started.
    static std::unique_ptr<TAudioRig> rig = std::make_unique<TAudioRig>();
    return *rig;
}

} // namespace

int RigMonitorDevice()
{
    static const int index = [] {
        Rig();
        for (const TTavixAudioDevice& d : EnumerateAudioDevices())
            if (d.Name == TAudioRig::KMonitorDevice && d.MaxInputChannels > 0)
                return d.Index;
        return -1;
    }();
    return index;
}

void PlayRigTone(double AFreqHz, double ASeconds)
{
    Rig().PlayTone(AFreqHz, ASeconds, 0.5);
}

TEncoderConfig SoundServerLoopbackConfig(const std::string& ASink, int APort)
{
    const auto items = BuildSoundServerComboItems(EnumerateSoundServerDevices());
    const int at = FindAudioComboItem(items, -1, askOutputLoopback, "pulse:" + ASink);
    EXPECT_GE(at, 0) << "no loopback entry for " << ASink;
    TEncoderConfig c = ServerConfig("audio/mpeg", APort);
    if (at >= 0) {
        c.AudioDeviceIndex = items[at].DeviceIndex;
        c.AudioSourceKind = items[at].SourceKind;
        c.AudioDeviceId = items[at].DeviceId;
        c.AudioDeviceName = items[at].DisplayName;
    }
    return c;
}

TEncoderConfig StreamConfig(const std::string& ACodec, int APort, const std::string& AServerType)
{
    TEncoderConfig c = ServerConfig(ACodec, APort, AServerType);
    c.AudioDeviceIndex = RigMonitorDevice();
    c.AudioSourceKind = askInput;
    return c;
}

void UseNowPlaying(TEncoderConfig& AConfig, const TTempDir& ADir, const std::string& ATitle)
{
    AConfig.NoarPath = ADir.File("noar.txt");
    WriteTextFile(AConfig.NoarPath, ATitle);
}

bool WaitForTitle(TWorkerRun& ARun, const TIcecastServer& AServer, const std::string& ATitle, int ATimeoutMs)
{
    const std::string key = "\"title\":\"" + ATitle + "\"";
    for (int waited = 0; waited <= ATimeoutMs; waited += 250) {
        if (AServer.StatusJson().find(key) != std::string::npos)
            return true;
        ARun.PumpFor(250);
    }
    return false;
}

TEncoderConfig ServerConfig(const std::string& ACodec, int APort, const std::string& AServerType)
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.ServerType = AServerType;
    c.Host = "127.0.0.1";
    c.Port = APort;
    c.Mount = "/stream";
    c.UserName = "";
    c.Password = "hackme";
    c.Codec = ACodec;
    c.Bitrate = 128;
    c.SampleRate = 44100;
    c.Channels = 2;
    c.AudioDeviceIndex = -1;
    c.NoarPath = "";
    c.EQBands.fill(0.0);
    c.CompressorEnabled = false;
    return c;
}

TWorkerRun::TWorkerRun(const TEncoderConfig& AConfig)
    : FWorker(std::make_unique<TNativeEncoderThread>(AConfig))
{
    FWorker->OnOutput = [this](TNativeEncoderThread*, int AServer, const TOutputState& AState) {
        (AServer == 1 ? FStatuses : FServerStatuses[AServer])
            .push_back({AState.Text, IsErrorState(AState), GetTickCount64(), AState});
    };
    FWorker->OnRecord = [this](TNativeEncoderThread*, const std::string& AFileName, const std::string& AText,
                               bool AIsError) { FRecords.push_back({AFileName, AText, AIsError, GetTickCount64()}); };
    FWorker->OnAlarm = [this](TNativeEncoderThread*, const TAlarm& AAlarm) {
        FAlarms.push_back({AAlarm, GetTickCount64()});
    };
    FWorker->Start();
    FLevelReader = std::thread([this] { ReadLevels(); });
}

void TWorkerRun::ReadLevels()
{
    uint64_t seen = 0;
    while (FReading.load()) {
        const uint64_t blocks = FWorker->Levels().Latest().Blocks;
        if (blocks > seen) {
            const uint64_t now = GetTickCount64();
            const std::lock_guard<std::mutex> guard(FTicksLock);
            FLevelTicks.insert(FLevelTicks.end(), blocks - seen, now);
            FLevels += static_cast<int>(blocks - seen);
            seen = blocks;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::vector<uint64_t> TWorkerRun::LevelTicks() const
{
    const std::lock_guard<std::mutex> guard(FTicksLock);
    return FLevelTicks;
}

std::string TWorkerRun::AlarmText() const
{
    std::string out;
    for (const TAlarmSeen& a : FAlarms)
        out += std::to_string(a.Tick) + " server " + std::to_string(a.Alarm.Server) + " " +
               AlarmEventName(a.Alarm.Kind) + (a.Alarm.Raised ? " raised: " : " ") + a.Alarm.Text + "\n";
    return out;
}

uint64_t TWorkerRun::LongestLevelGap(uint64_t AFrom, uint64_t ATo) const
{
    uint64_t longest = 0;
    uint64_t last = AFrom;
    for (const uint64_t tick : LevelTicks()) {
        if (tick < AFrom || tick > ATo)
            continue;
        longest = std::max(longest, tick - last);
        last = tick;
    }
    return std::max(longest, ATo - last);
}

TWorkerRun::~TWorkerRun()
{
    if (!FWorker->Finished())
        Stop();
    FWorker->WaitFor();
    FReading = false;
    FLevelReader.join();
}

namespace {

std::string Transcript(const std::vector<TStatus>& AStatuses)
{
    std::string out;
    for (const TStatus& s : AStatuses)
        out += (s.IsError ? "[E] " : "[ ] ") + s.Text + "\n";
    return out;
}

int FindStatus(const std::vector<TStatus>& AStatuses, const std::string& AText, int ATimeoutMs, size_t AFrom)
{
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(ATimeoutMs);
    for (;;) {
        for (size_t i = AFrom; i < AStatuses.size(); ++i)
            if (AStatuses[i].Text == AText)
                return static_cast<int>(i);
        if (GetTickCount64() >= until)
            return -1;
        TThread::RunQueued(5);
    }
}

} // namespace

std::string TWorkerRun::StatusText() const
{
    return Transcript(FStatuses);
}

std::string TWorkerRun::ServerStatusText(int AServer) const
{
    return Transcript(FServerStatuses[AServer]);
}

int TWorkerRun::WaitForServerStatus(int AServer, const std::string& AText, int ATimeoutMs, size_t AFrom)
{
    return FindStatus(FServerStatuses[AServer], AText, ATimeoutMs, AFrom);
}

const TAlarmSeen* TWorkerRun::FindAlarm(TAlarmKind AKind, size_t AFrom) const
{
    for (size_t i = AFrom; i < FAlarms.size(); ++i)
        if (FAlarms[i].Alarm.Kind == AKind)
            return &FAlarms[i];
    return nullptr;
}

bool TWorkerRun::PumpUntilAlarm(TAlarmKind AKind, int ATimeoutMs, size_t AFrom)
{
    for (int waited = 0; waited < ATimeoutMs && !FindAlarm(AKind, AFrom); waited += 50)
        PumpFor(50);
    return FindAlarm(AKind, AFrom) != nullptr;
}

void TWorkerRun::PumpFor(int AMs)
{
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(AMs);
    while (GetTickCount64() < until)
        TThread::RunQueued(5);
}

int TWorkerRun::WaitForStatus(const std::string& AText, int ATimeoutMs, size_t AFrom)
{
    return FindStatus(FStatuses, AText, ATimeoutMs, AFrom);
}

bool TWorkerRun::WaitForBlocks(int ACount, int ATimeoutMs)
{
    const int target = FLevels.load() + ACount;
    return WaitUntil([&] { return FLevels >= target; }, ATimeoutMs);
}

bool TWorkerRun::WaitFinished(int ATimeoutMs)
{
    if (!WaitUntil([&] { return FWorker->Finished(); }, ATimeoutMs))
        return false;
    // Its last words, queued as it ended.
    FWorker->WaitFor();
    return true;
}

uint64_t TWorkerRun::Stop()
{
    const uint64_t start = GetTickCount64();
    FWorker->StopNow();
    while (!FWorker->Finished())
        TThread::RunQueued(2);
    const uint64_t took = GetTickCount64() - start;
    FWorker->WaitFor();
    return took;
}

TStreamCapture::TStreamCapture(int APort, const std::string& AMount, int AMs)
{
    FThread = std::thread([this, APort, AMount, AMs] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(APort));
        timeval tv{0, 200000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        std::string data;
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
            const std::string request = "GET " + AMount + " HTTP/1.0\r\nUser-Agent: tavix-test-listener\r\n\r\n";
            send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            const uint64_t until = GetTickCount64() + static_cast<uint64_t>(AMs);
            char buf[8192];
            while (GetTickCount64() < until) {
                const ssize_t n = recv(fd, buf, sizeof(buf), 0);
                if (n == 0)
                    break;
                if (n > 0) {
                    data.append(buf, static_cast<size_t>(n));
                    FArrivals.push_back({GetTickCount64(), data.size()});
                }
            }
        }
        close(fd);
        const size_t head = data.find("\r\n\r\n");
        FBody = head == std::string::npos ? std::string() : data.substr(head + 4);
        FDone = true;
    });
}

TStreamCapture::~TStreamCapture()
{
    if (FThread.joinable())
        FThread.join();
}

std::string TStreamCapture::Wait()
{
    FThread.join();
    return FBody;
}

uint64_t TStreamCapture::BytesBetween(uint64_t AFrom, uint64_t ATo) const
{
    uint64_t before = 0, upTo = 0;
    for (const auto& [tick, total] : FArrivals) {
        if (tick < AFrom)
            before = total;
        if (tick <= ATo)
            upTo = total;
    }
    return upTo > before ? upTo - before : 0;
}

std::string TStreamCapture::Finish(TWorkerRun& ARun)
{
    while (!FDone)
        ARun.PumpFor(10);
    FThread.join();
    return FBody;
}

TDecodedStream DecodeStream(const std::string& ABody)
{
    const std::string ffmpeg = RequireProgram("ffmpeg");
    TTempDir dir;
    const std::string raw = dir.File("mono.raw");
    // A listener joins mid-frame: an MP3 or AAC stream that opens with a
    // piece of a frame may not be recognised by its bytes alone, and is
    // tried again under the names a file of it would have.
    std::string said;
    for (const char* extension : {".bin", ".mp3", ".aac"}) {
        const std::string in = dir.File(std::string("stream") + extension);
        std::ofstream(in, std::ios::binary) << ABody;
        int code = 0;
        said += RunCommand(ffmpeg + " -v error -y -i " + ShellQuote(in) + " -f s16le -ac 1 -ar 44100 " +
                               ShellQuote(raw) + " 2>&1",
                           &code);
        const std::string pcm = ReadTextFile(raw);
        if (code != 0 || pcm.empty())
            continue;
        TDecodedStream out;
        const auto facts = ProbeFile(in);
        const auto fact = [&facts](const char* AKey) {
            const auto it = facts.find(AKey);
            return it == facts.end() ? std::string() : it->second;
        };
        out.Codec = fact("codec_name");
        out.Profile = fact("profile");
        out.Channels = std::atoi(fact("channels").c_str());
        out.SampleRate = std::atoi(fact("sample_rate").c_str());
        out.Mono.resize(pcm.size() / 2);
        std::memcpy(out.Mono.data(), pcm.data(), out.Mono.size() * 2);
        return out;
    }
    // A test that finds nothing to hear says whether the decoder failed.
    std::cerr << "ffmpeg decoded nothing from " << ABody.size() << " bytes: " << said << "\n";
    return {};
}

namespace {

// Amplitude (full scale 1.0) of the component at AFreq.
double GoertzelAmplitude(const std::vector<int16_t>& AMono, size_t AFrom, double AFreq)
{
    const double w = 2.0 * M_PI * AFreq / 44100.0;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = AFrom; i < AMono.size(); ++i) {
        const double s0 = AMono[i] / 32768.0 + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    const double n = static_cast<double>(AMono.size() - AFrom);
    return 2.0 * std::sqrt(std::max(power, 0.0)) / n;
}

} // namespace

double ToneDominance(const std::vector<int16_t>& AMono, double AFreq)
{
    // Leave out the start: decoder warm-up and audio from before the tone.
    const size_t from = 44100 / 2;
    if (AMono.size() < from + 44100)
        return 0.0;
    const double target = GoertzelAmplitude(AMono, from, AFreq);
    if (target < 0.05)
        return 0.0;
    double worst = 1e9;
    for (const double other : {AFreq * 0.5, AFreq * 0.7, AFreq * 1.4, AFreq * 2.0, AFreq * 3.3})
        worst = std::min(worst, target / std::max(GoertzelAmplitude(AMono, from, other), 1e-9));
    return worst;
}

int FirstSecondWithoutTone(const std::vector<int16_t>& AMono, double AFreq)
{
    constexpr size_t KRate = 44100;
    for (size_t s = 1; (s + 2) * KRate <= AMono.size(); ++s) {
        const std::vector<int16_t> window(AMono.begin() + long(s * KRate), AMono.begin() + long((s + 2) * KRate));
        if (ToneDominance(window, AFreq) < 10.0)
            return static_cast<int>(s);
    }
    return -1;
}
