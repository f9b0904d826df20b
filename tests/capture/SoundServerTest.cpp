#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "capture/SoundServerDevices.h"
#include "capture/SoundServerStream.h"
#include "tests/codecs/CodecTestSupport.h"
#include "tests/support/SoundServerRig.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int KBlock = 2048;
constexpr double KAmplitude = 0.5;

double SecondsSince(TClock::time_point AStart)
{
    return std::chrono::duration<double>(TClock::now() - AStart).count();
}

const TSoundServerDevice* Find(const TSoundServerCatalogue& ACatalogue, const std::string& AName)
{
    for (const TSoundServerDevice& dev : ACatalogue.Devices)
        if (dev.Name == AName)
            return &dev;
    return nullptr;
}

// What a stretch of capture holds, first channel for the frequencies.
struct TMeasure {
    double RmsDb[2] = {-999, -999};
    double Peak = 0;
    double ToneAmplitude = 0;  // at 1 kHz, from its Goertzel power
    double ToneOverOthersDb = 0; // 1 kHz against the stronger of 500 Hz and 2 kHz
};

TMeasure Measure(const std::vector<float>& APcm, int AChannels, int ARate)
{
    TMeasure m;
    const size_t frames = APcm.size() / AChannels;
    for (int c = 0; c < 2; ++c) {
        double energy = 0;
        for (size_t n = 0; n < frames; ++n)
            energy += double(APcm[n * AChannels + c]) * APcm[n * AChannels + c];
        m.RmsDb[c] = 10 * std::log10(std::max(energy / frames, 1e-20));
    }
    for (float s : APcm)
        m.Peak = std::max(m.Peak, double(std::fabs(s)));
    const double tone = ToneLevel(APcm, AChannels, 0, ARate, 1000);
    const double others = std::max(ToneLevel(APcm, AChannels, 0, ARate, 500),
                                   ToneLevel(APcm, AChannels, 0, ARate, 2000));
    m.ToneAmplitude = 2 * std::sqrt(tone); // a sine of amplitude A has power (A/2)^2
    m.ToneOverOthersDb = 10 * std::log10(tone / std::max(others, 1e-30));
    return m;
}

// Reads ABlocks whole blocks; fails the test on a read error.
std::vector<float> Capture(TCaptureSource& ASource, int ABlocks)
{
    std::vector<float> pcm;
    std::vector<float> block(static_cast<size_t>(KBlock) * ASource.Channels());
    std::string error;
    for (int b = 0; b < ABlocks; ++b) {
        if (!ASource.ReadBlock(block.data(), KBlock, error)) {
            ADD_FAILURE() << error;
            break;
        }
        pcm.insert(pcm.end(), block.begin(), block.end());
    }
    return pcm;
}

// Waits (a bounded number of blocks) for the tone to arrive, lets it
// settle, then measures about a second of it.
TMeasure MeasureTone(TCaptureSource& ASource, int ARate)
{
    bool heard = false;
    for (int i = 0; i < 100 && !heard; ++i)
        for (float s : Capture(ASource, 1))
            heard = heard || std::fabs(s) > 0.1f;
    EXPECT_TRUE(heard) << "the tone never arrived";
    Capture(ASource, 4);
    return Measure(Capture(ASource, ARate / KBlock), ASource.Channels(), ARate);
}

// The played sine at 0.5 comes back at 0.5: no gain stage sits between a
// stream at 100 % and a device at 100 %, so the only changes are the
// resampler's passband ripple and 16-bit rounding on PulseAudio's 44.1 kHz
// s16 null sinks, both far below 0.1 dB at 1 kHz. 0.3 dB of tolerance is
// a level off by 3.5 %; a wrong format, a channel mix-down (-3 dB or -6 dB)
// or a volume not at 100 % all land outside.
void ExpectTone(const TMeasure& AMeasure, const char* AWhere)
{
    const double expectedDb = 20 * std::log10(KAmplitude / std::sqrt(2.0));
    std::printf("[ measure  ] %s: RMS %.3f / %.3f dBFS (sine %.3f), peak %.4f, 1 kHz amplitude "
                "%.4f, 1 kHz over 500 Hz/2 kHz %.1f dB\n",
                AWhere, AMeasure.RmsDb[0], AMeasure.RmsDb[1], expectedDb, AMeasure.Peak,
                AMeasure.ToneAmplitude, AMeasure.ToneOverOthersDb);
    for (int c = 0; c < 2; ++c)
        EXPECT_NEAR(AMeasure.RmsDb[c], expectedDb, 0.3) << AWhere << ", channel " << c;
    EXPECT_NEAR(AMeasure.Peak, KAmplitude, 0.03) << AWhere;
    EXPECT_NEAR(AMeasure.ToneAmplitude, KAmplitude, 0.02) << AWhere;
    // A pure tone: 500 Hz and 2 kHz hold only leakage and noise.
    EXPECT_GT(AMeasure.ToneOverOthersDb, 60) << AWhere;
}

class SoundServer : public ::testing::TestWithParam<TSoundServerKind> {
protected:
    static void TearDownTestSuite() { Rigs.clear(); }

    void SetUp() override
    {
        auto& rig = Rigs[GetParam()];
        if (!rig) {
            // A server that does not come up throws here, with its logs: the
            // test fails with the reason.
            auto fresh = std::make_unique<TSoundServerRig>(GetParam());
            fresh->LoadNullSink("Speakers", "Speakers");
            fresh->LoadNullSink("Headset", "Headset");
            fresh->LoadInputSource("LineIn", "Line In");
            rig = std::move(fresh);
        }
        rig->Apply();
    }
    void TearDown() override
    {
        if (Rigs[GetParam()])
            Rig().StopTones();
    }

    TSoundServerRig& Rig() { return *Rigs[GetParam()]; }
    const char* Label() const
    {
        return GetParam() == TSoundServerKind::PipeWire ? "PipeWire" : "PulseAudio";
    }

    std::unique_ptr<TCaptureSource> Open(const std::string& ASource, int32_t ARate)
    {
        std::string error;
        auto source = OpenSoundServerCapture(ASource, ARate, 2, KBlock, error);
        EXPECT_TRUE(source) << error;
        EXPECT_EQ(error, "");
        if (source) {
            EXPECT_EQ(source->Channels(), 2);
        }
        return source;
    }

    static std::map<TSoundServerKind, std::unique_ptr<TSoundServerRig>> Rigs;
};

std::map<TSoundServerKind, std::unique_ptr<TSoundServerRig>> SoundServer::Rigs;

// Sets one variable for the scope, and puts back what was there.
class TScopedEnv {
public:
    TScopedEnv(const char* AName, const std::string& AValue) : FName(AName)
    {
        if (const char* old = getenv(AName))
            FOld = old, FHad = true;
        setenv(AName, AValue.c_str(), 1);
    }
    ~TScopedEnv() { FHad ? setenv(FName, FOld.c_str(), 1) : unsetenv(FName); }

private:
    const char* FName;
    std::string FOld;
    bool FHad = false;
};

} // namespace

TEST_P(SoundServer, CatalogueListsSinksWithTheirMonitorsAndTheInput)
{
    const auto started = TClock::now();
    const TSoundServerCatalogue catalogue = EnumerateSoundServerDevices();
    EXPECT_LT(SecondsSince(started), 1.0);
    ASSERT_TRUE(catalogue.Reachable);
    EXPECT_EQ(catalogue.ServerLabel, Label());

    for (const std::string name : {"Speakers", "Headset"}) {
        const TSoundServerDevice* sink = Find(catalogue, name);
        ASSERT_TRUE(sink) << name;
        EXPECT_TRUE(sink->IsSink);
        EXPECT_FALSE(sink->IsMonitor);
        EXPECT_EQ(sink->Description, name);
        EXPECT_EQ(sink->MonitorSource, name + ".monitor");
        EXPECT_EQ(sink->Channels, 2);
        std::printf("[ measure  ] %s sink %s: %d Hz, %d channels\n", Label(), name.c_str(),
                    sink->SampleRate, sink->Channels);
        const TSoundServerDevice* monitor = Find(catalogue, sink->MonitorSource);
        ASSERT_TRUE(monitor) << sink->MonitorSource;
        EXPECT_FALSE(monitor->IsSink);
        EXPECT_TRUE(monitor->IsMonitor);
        EXPECT_EQ(monitor->SampleRate, sink->SampleRate);
        EXPECT_EQ(monitor->Channels, sink->Channels);
        EXPECT_EQ(monitor->MonitorSource, "");
    }
    const TSoundServerDevice* input = Find(catalogue, "LineIn");
    ASSERT_TRUE(input);
    EXPECT_FALSE(input->IsSink);
    EXPECT_FALSE(input->IsMonitor);
    EXPECT_EQ(input->Description, "Line In");
    EXPECT_EQ(input->SampleRate, 48000);
    EXPECT_EQ(input->Channels, 2);

    // A device shows in the next catalogue as soon as the server has it.
    const uint32_t module = Rig().LoadNullSink("Studio", "Studio Monitors");
    const TSoundServerDevice* added = Find(EnumerateSoundServerDevices(), "Studio");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->Description, "Studio Monitors");
    Rig().UnloadModule(module);
    EXPECT_FALSE(Find(EnumerateSoundServerDevices(), "Studio"));
}

TEST_P(SoundServer, ToneIntoOneSinkIsCapturedThroughItsMonitorOnly)
{
    const TSoundServerCatalogue catalogue = EnumerateSoundServerDevices();
    const TSoundServerDevice* headset = Find(catalogue, "Headset");
    const TSoundServerDevice* speakers = Find(catalogue, "Speakers");
    ASSERT_TRUE(headset && speakers);
    const auto heard = Open(headset->MonitorSource, headset->SampleRate);
    ASSERT_TRUE(heard);
    Rig().PlayTone("Headset", 1000, 6, KAmplitude);
    ExpectTone(MeasureTone(*heard, headset->SampleRate),
               (std::string(Label()) + " Headset.monitor").c_str());

    // The other sink's monitor, while the tone still plays, holds nothing.
    const auto other = Open(speakers->MonitorSource, speakers->SampleRate);
    ASSERT_TRUE(other);
    const std::vector<float> quiet = Capture(*other, speakers->SampleRate / KBlock / 2);
    ASSERT_FALSE(quiet.empty());
    const TMeasure m = Measure(quiet, 2, speakers->SampleRate);
    std::printf("[ measure  ] %s Speakers.monitor: RMS %.1f dBFS, peak %.6f\n", Label(),
                m.RmsDb[0], m.Peak);
    EXPECT_LT(m.Peak, 1e-4);
    EXPECT_LT(m.ToneAmplitude, 1e-5);
}

// Read in time, nothing is lost; a reader away for longer than the few
// blocks the server holds is told the audio overran.
TEST_P(SoundServer, ToneIntoAnInputIsCapturedAndAnOverrunIsCounted)
{
    const auto input = Open("LineIn", 48000);
    ASSERT_TRUE(input);
    Rig().PlayTone("LineIn", 1000, 6, KAmplitude);
    ExpectTone(MeasureTone(*input, 48000), (std::string(Label()) + " LineIn").c_str());
    EXPECT_EQ(input->Overruns(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Capture(*input, 4);
    EXPECT_GE(input->Overruns(), 1u) << Label();
}

TEST_P(SoundServer, DeviceThatIsNotThereEndsOpenOrRead)
{
    std::string error;
    EXPECT_FALSE(OpenSoundServerCapture("NoSuchDevice", 48000, 2, KBlock, error));
    EXPECT_EQ(error, "N\xC3\xA3o abriu o canal selecionado: dispositivo n\xC3\xA3o encontrado no "
                     "servidor de som");

    // Removed while being read: the server must not move the capture to
    // some other device, and the read must not wait for good.
    const uint32_t module = Rig().LoadNullSink("Removable", "Removable");
    const auto source = Open("Removable.monitor", 48000);
    ASSERT_TRUE(source);
    std::vector<float> block(static_cast<size_t>(KBlock) * 2);
    ASSERT_TRUE(source->ReadBlock(block.data(), KBlock, error)) << error;
    Rig().UnloadModule(module);
    const auto removed = TClock::now();
    bool ok = true;
    for (int i = 0; i < 200 && ok && SecondsSince(removed) < 8; ++i)
        ok = source->ReadBlock(block.data(), KBlock, error);
    std::printf("[ measure  ] %s: read ended %.3f s after the device went\n", Label(),
                SecondsSince(removed));
    ASSERT_FALSE(ok) << "the capture went on after its device was removed";
    EXPECT_LT(SecondsSince(removed), 2.0) << "noticed by the server, not by the stall timeout";
    EXPECT_EQ(error, "o dispositivo foi removido do servidor de som.");
    // It stays failed.
    EXPECT_FALSE(source->ReadBlock(block.data(), KBlock, error));
}

TEST_P(SoundServer, ServerThatHangsEndsTheReadInBoundedTime)
{
    const auto source = Open("Headset.monitor", 48000);
    ASSERT_TRUE(source);
    std::vector<float> block(static_cast<size_t>(KBlock) * 2);
    std::string error;
    ASSERT_TRUE(source->ReadBlock(block.data(), KBlock, error)) << error;
    Rig().PauseServer();
    const auto paused = TClock::now();
    bool ok = true;
    for (int i = 0; i < 400 && ok && SecondsSince(paused) < 15; ++i)
        ok = source->ReadBlock(block.data(), KBlock, error);
    const double waited = SecondsSince(paused);
    Rig().ResumeServer();
    ASSERT_FALSE(ok) << "the read went on from a stopped server";
    EXPECT_GT(waited, 4.5);
    EXPECT_LT(waited, 7.0);
    EXPECT_EQ(error, "o servidor de som parou de enviar \xC3\xA1udio.");
}

INSTANTIATE_TEST_SUITE_P(Servers, SoundServer,
                         ::testing::Values(TSoundServerKind::PulseAudio, TSoundServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<TSoundServerKind>& AInfo) {
                             return AInfo.param == TSoundServerKind::PipeWire ? "PipeWire"
                                                                              : "PulseAudio";
                         });

TEST(SoundServerUnreachable, NoServerAndASilentServerAreReportedInBoundedTime)
{
    TTempDir dir;
    const std::string refused =
        "N\xC3\xA3o abriu o canal selecionado: servidor de som indispon\xC3\xADvel";
    std::string error;
    {
        TScopedEnv env("PULSE_SERVER", "unix:" + dir.File("nothing.sock"));
        const auto started = TClock::now();
        const TSoundServerCatalogue catalogue = EnumerateSoundServerDevices();
        EXPECT_FALSE(catalogue.Reachable);
        EXPECT_TRUE(catalogue.Devices.empty());
        EXPECT_EQ(catalogue.ServerLabel, "");
        EXPECT_FALSE(OpenSoundServerCapture("Headset.monitor", 48000, 2, KBlock, error));
        EXPECT_EQ(error, refused);
        EXPECT_LT(SecondsSince(started), 1.0);
    }

    // A socket that takes the connection and never says a word.
    const std::string path = dir.File("silent.sock");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    {
        TScopedEnv env("PULSE_SERVER", "unix:" + path);
        auto started = TClock::now();
        EXPECT_FALSE(EnumerateSoundServerDevices().Reachable);
        EXPECT_LT(SecondsSince(started), 4.0);
        started = TClock::now();
        error.clear();
        EXPECT_FALSE(OpenSoundServerCapture("Headset.monitor", 48000, 2, KBlock, error));
        EXPECT_EQ(error, refused);
        EXPECT_LT(SecondsSince(started), 4.0);
    }
    close(fd);
}
