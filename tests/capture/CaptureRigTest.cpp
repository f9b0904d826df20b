#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/AudioComboItems.h"
#include "capture/HealingCapture.h"
#include "capture/PortAudioDevices.h"
#include "engine/NativeEncoderThread.h"
#include "tests/support/AudioRig.h"

namespace {

struct TStatus {
    std::string Text;
    bool IsError;
};

// What a block of a capture channel tells about the tone in it.
struct TToneMeasure {
    double RmsDb[2] = {-999, -999};
    double FrequencyHz = 0;
};

class CaptureRig : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Rig = std::make_unique<TAudioRig>(); }
    static void TearDownTestSuite() { Rig.reset(); }

    void SetUp() override { ASSERT_EQ(Pa_Initialize(), paNoError); }
    void TearDown() override
    {
        Rig->StopTone();
        Pa_Terminate();
    }

    static int DeviceIndex(const std::string& AName)
    {
        for (const TTavixAudioDevice& dev : EnumerateAudioDevices())
            if (dev.Name == AName)
                return dev.Index;
        return -1;
    }

    static TEncoderConfig Channel(int AIndex, TAudioSourceKind AKind, int ARate)
    {
        TEncoderConfig cfg;
        DefaultEncoderConfig(cfg);
        cfg.AudioDeviceIndex = AIndex;
        cfg.AudioSourceKind = AKind;
        cfg.Channels = 2;
        cfg.SampleRate = ARate;
        return cfg;
    }

    // A suspended worker that has run OpenCaptureStream on its channel.
    struct TOpened {
        std::vector<TStatus> Status;
        std::unique_ptr<TNativeEncoderThread> Worker;
        std::unique_ptr<TCaptureSource> Source;
        int Channels = 0;
        bool Ok = false;
    };

    static std::unique_ptr<TOpened> Open(int AIndex, TAudioSourceKind AKind, int ARate)
    {
        auto opened = std::make_unique<TOpened>();
        opened->Worker = std::make_unique<TNativeEncoderThread>(Channel(AIndex, AKind, ARate));
        opened->Worker->OnOutput = [status = &opened->Status](TNativeEncoderThread*, int,
                                                               const TOutputState& AState) {
            status->push_back({AState.Text, IsErrorState(AState)});
        };
        opened->Source = opened->Worker->OpenCaptureStream();
        opened->Ok = opened->Source != nullptr;
        opened->Channels = opened->Ok ? opened->Source->Channels() : 0;
        return opened;
    }

    // Waits for the tone to arrive, lets it settle, then measures a second
    // of it on the first two channels.
    static TToneMeasure MeasureTone(TCaptureSource& ASource, int AChannels, double ARate)
    {
        TToneMeasure m;
        const int frames = 2048;
        std::vector<float> block(frames * AChannels);
        const auto read = [&] {
            std::string error;
            EXPECT_TRUE(ASource.ReadBlock(block.data(), frames, error)) << error;
        };
        bool heard = false;
        for (int i = 0; i < 200 && !heard; ++i) {
            read();
            for (size_t n = 0; n < block.size() && !heard; ++n)
                heard = std::fabs(block[n]) > 0.1f;
        }
        if (!heard)
            return m;
        for (int i = 0; i < 5; ++i)
            read();
        const int blocks = static_cast<int>(ARate / frames);
        double energy[2] = {0, 0};
        long crossings = 0;
        float previous = 0;
        for (int b = 0; b < blocks; ++b) {
            read();
            for (int n = 0; n < frames; ++n) {
                for (int c = 0; c < std::min(AChannels, 2); ++c)
                    energy[c] += double(block[n * AChannels + c]) * block[n * AChannels + c];
                const float s = block[n * AChannels];
                crossings += (s >= 0) != (previous >= 0);
                previous = s;
            }
        }
        const double count = double(blocks) * frames;
        for (int c = 0; c < std::min(AChannels, 2); ++c)
            m.RmsDb[c] = 10 * std::log10(energy[c] / count);
        m.FrequencyHz = crossings / 2.0 / (count / ARate);
        return m;
    }

    static void ExpectTone(const TToneMeasure& AMeasure, double AAmplitude, int AChannels)
    {
        const double expectedDb = 20 * std::log10(AAmplitude / std::sqrt(2.0));
        for (int c = 0; c < std::min(AChannels, 2); ++c)
            EXPECT_NEAR(AMeasure.RmsDb[c], expectedDb, 1.0) << "channel " << c;
        EXPECT_NEAR(AMeasure.FrequencyHz, 1000.0, 20.0);
    }

    static std::unique_ptr<TAudioRig> Rig;
};

std::unique_ptr<TAudioRig> CaptureRig::Rig;

} // namespace

TEST_F(CaptureRig, CatalogueListsTheRigAsInputsAndLoopbackOutputs)
{
    const auto devices = EnumerateAudioDevices();
    int found = 0;
    for (const TTavixAudioDevice& dev : devices) {
        if (dev.Name != TAudioRig::KOutputDevice && dev.Name != TAudioRig::KMonitorDevice)
            continue;
        ++found;
        EXPECT_EQ(dev.HostApiType, KLoopbackHostApiType);
        EXPECT_EQ(dev.HostApiName, KLoopbackHostApiName);
        EXPECT_GT(dev.MaxInputChannels, 0);
        EXPECT_GT(dev.MaxOutputChannels, 0);
        EXPECT_GE(dev.DefaultSampleRate, 8000.0);
    }
    EXPECT_EQ(found, 2);
    for (size_t i = 1; i < devices.size(); ++i)
        EXPECT_LT(devices[i - 1].Index, devices[i].Index);

    const auto items = BuildAudioComboItems(devices);
    const int speakers = DeviceIndex(TAudioRig::KOutputDevice);
    const int input = FindAudioComboItem(items, speakers, askInput);
    const int loopback = FindAudioComboItem(items, speakers, askOutputLoopback);
    ASSERT_GE(input, 0);
    ASSERT_EQ(loopback, input + 1);
    EXPECT_EQ(items[input].DisplayName, "Entrada: speakers_test  [ALSA]");
    EXPECT_EQ(items[loopback].DisplayName, "speakers_test");
}

TEST_F(CaptureRig, InputChannelReadsTheToneBack)
{
    const int monitor = DeviceIndex(TAudioRig::KMonitorDevice);
    ASSERT_GE(monitor, 0);
    const auto ch = Open(monitor, askInput, 44100);
    ASSERT_TRUE(ch->Ok);
    EXPECT_TRUE(ch->Status.empty()) << "an input opens without a word";
    EXPECT_EQ(ch->Channels, 2);
    EXPECT_EQ(ch->Worker->Config().SampleRate, 44100);
    Rig->PlayTone(1000, 8, 0.5);
    ExpectTone(MeasureTone(*ch->Source, ch->Channels, 44100), 0.5, ch->Channels);
}

TEST_F(CaptureRig, LoopbackOfTheSpeakersCapturesThroughTheirMonitor)
{
    const int speakers = DeviceIndex(TAudioRig::KOutputDevice);
    ASSERT_GE(speakers, 0);
    const auto ch = Open(speakers, askOutputLoopback, 22050);
    ASSERT_TRUE(ch->Ok);
    ASSERT_EQ(ch->Status.size(), 1u);
    EXPECT_EQ(ch->Status[0].Text, "Canal de retorno: monitor_test");
    EXPECT_FALSE(ch->Status[0].IsError);
    // The partner's own rate replaces the configured one.
    const int rate = ch->Worker->Config().SampleRate;
    EXPECT_EQ(rate, static_cast<int>(std::lround(
                        Pa_GetDeviceInfo(DeviceIndex(TAudioRig::KMonitorDevice))->defaultSampleRate)));
    EXPECT_NE(rate, 22050);
    EXPECT_EQ(ch->Channels, 2);
    Rig->PlayTone(1000, 8, 0.25);
    ExpectTone(MeasureTone(*ch->Source, ch->Channels, rate), 0.25, ch->Channels);
}

// Through PortAudio and ALSA's PulseAudio plugin: the daemon behind the
// device restarted. The reads go on at the clock's pace with silence, the
// device is opened again once it is back, and the tone comes through.
TEST_F(CaptureRig, ADeviceLostUnderPortAudioIsBridgedAndOpenedAgain)
{
    const int monitor = DeviceIndex(TAudioRig::KMonitorDevice);
    ASSERT_GE(monitor, 0);
    auto ch = Open(monitor, askInput, 44100);
    ASSERT_TRUE(ch->Ok);
    TCaptureHealth health;
    std::vector<std::string> changes;
    THealingCapture capture(
        std::move(ch->Source), [&ch](std::string& AWhy) { return ch->Worker->ReopenCaptureStream(AWhy); }, 44100,
        [&changes](const std::string& AWhy) { changes.push_back(AWhy); }, health);
    Rig->PlayTone(1000, 30, 0.5);
    ExpectTone(MeasureTone(capture, 2, 44100), 0.5, 2);

    Rig->StopDaemon();
    std::vector<float> block(2048 * 2);
    using TClock = std::chrono::steady_clock;
    const TClock::time_point until = TClock::now() + std::chrono::seconds(4);
    std::optional<TClock::time_point> lostAt;
    int frames = 0;
    while (TClock::now() < until) {
        std::string error;
        ASSERT_TRUE(capture.ReadBlock(block.data(), 2048, error));
        if (lostAt)
            frames += 2048;
        else if (!changes.empty())
            lostAt = TClock::now();
    }
    ASSERT_TRUE(lostAt) << "the loss is told";
    EXPECT_FALSE(changes[0].empty());
    EXPECT_TRUE(health.Lost);
    const double elapsed = std::chrono::duration<double>(TClock::now() - *lostAt).count();
    EXPECT_GT(elapsed, 1.0);
    EXPECT_NEAR(frames / 44100.0, elapsed, 0.15) << "silence at the clock's pace";

    Rig->StartDaemon();
    Rig->PlayTone(1000, 30, 0.5);
    ExpectTone(MeasureTone(capture, 2, 44100), 0.5, 2);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1], "") << "back";
    EXPECT_FALSE(health.Lost);
    EXPECT_EQ(health.Reopens, 1u);
}

TEST_F(CaptureRig, RefusalsOfTheRealLibrary)
{
    // The one error status of a refused channel.
    const auto refusal = [](const TOpened& ch) -> std::string {
        EXPECT_FALSE(ch.Ok);
        EXPECT_EQ(ch.Source, nullptr);
        EXPECT_EQ(ch.Channels, 0);
        EXPECT_EQ(ch.Status.size(), 1u);
        if (ch.Status.size() != 1 || !ch.Status[0].IsError)
            return "(no single error status)";
        return ch.Status[0].Text;
    };
    EXPECT_EQ(refusal(*Open(Pa_GetDeviceCount(), askInput, 44100)),
              "Canal de \xC3\xA1udio inv\xC3\xA1lido.");
    // A rate no device takes: every channel count is refused, and the
    // library says why.
    EXPECT_EQ(refusal(*Open(DeviceIndex(TAudioRig::KMonitorDevice), askInput, 0)),
              "N\xC3\xA3o abriu o canal selecionado: " + PortAudioErrorText(paInvalidSampleRate));
}

// Right after a start the ALSA read used to return at once with nothing and
// poll in a tight loop, a full core for a second or more at every start.
TEST_F(CaptureRig, TheFirstSecondsOfReadingCostAlmostNoProcessorTime)
{
    const int monitor = DeviceIndex(TAudioRig::KMonitorDevice);
    ASSERT_GE(monitor, 0);
    const auto ch = Open(monitor, askInput, 44100);
    ASSERT_TRUE(ch->Ok);
    const auto threadCpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec / 1e9;
    };
    const auto wall = [] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return ts.tv_sec + ts.tv_nsec / 1e9;
    };
    std::vector<float> block(2048 * ch->Channels);
    const double cpu0 = threadCpu(), wall0 = wall();
    std::string error;
    // Three seconds of audio, read as the transmission loop reads it.
    for (int i = 0; i < 65; ++i)
        ASSERT_TRUE(ch->Source->ReadBlock(block.data(), 2048, error)) << error;
    const double cpu = threadCpu() - cpu0, elapsed = wall() - wall0;
    EXPECT_GT(elapsed, 2.5) << "the reads must wait for real time";
    EXPECT_LT(cpu, 0.15) << cpu << " s of processor time for " << elapsed << " s of reading";
}
