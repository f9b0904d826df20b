#include <gtest/gtest.h>

#include "tests/dsp/ProbeWorker.h"

namespace {

constexpr uint64_t T0 = 1000000;
constexpr int KFrames = 2048;

class KeepAlive : public ::testing::Test {
protected:
    TProbeWorker Worker{ProcessingConfig(44100)};

    // Runs one stereo block of ALevel through the tone stage at ATick and
    // tells whether it came out carrying the tone.
    bool Block(uint64_t ATick, float ALevel = 0.0f)
    {
        Out.assign(KFrames * 2, ALevel);
        Worker.ApplyKeepAliveTone(Out, KFrames, 2, ATick);
        bool tone = false;
        for (size_t i = 0; i < Out.size(); ++i)
            tone = tone || Out[i] != ALevel;
        return tone;
    }
    std::vector<float> Out;
};

} // namespace

TEST_F(KeepAlive, FirstBurstAfterFiveSecondsOfSilence)
{
    EXPECT_FALSE(Block(T0));
    EXPECT_EQ(Worker.FSilenceStartTick, T0);
    EXPECT_EQ(Worker.FNextKeepAliveToneTick, T0 + 5000);
    EXPECT_FALSE(Block(T0 + 4999));
    EXPECT_TRUE(Block(T0 + 5000));
    // The tone: 1200 Hz sine of peak 0.0008 from phase 0, same on both sides.
    const double step = 2 * std::numbers::pi * 1200 / 44100;
    for (int n = 0; n < KFrames; n += 97) {
        EXPECT_FLOAT_EQ(Out[2 * n], float(std::sin(n * step) * 0.0008)) << n;
        EXPECT_EQ(Out[2 * n + 1], Out[2 * n]);
    }
    EXPECT_NEAR(Worker.FKeepAliveTonePhase, std::fmod(KFrames * step, 2 * std::numbers::pi), 1e-9);
    EXPECT_TRUE(Block(T0 + 5300)) << "the burst covers 300 ms";
    EXPECT_FALSE(Block(T0 + 5301));
    EXPECT_EQ(Worker.FKeepAliveToneUntilTick, 0u);
    EXPECT_FALSE(Block(T0 + 9999));
    EXPECT_TRUE(Block(T0 + 10000));
}

TEST_F(KeepAlive, ShortBurstsEveryFiveSecondsOnBlockTicks)
{
    // 46 ms blocks for a minute of silence.
    std::vector<uint64_t> starts;
    bool previous = false;
    int toneBlocks = 0;
    for (uint64_t tick = T0; tick < T0 + 60000; tick += 46) {
        const bool tone = Block(tick);
        toneBlocks += tone;
        if (tone && !previous)
            starts.push_back(tick);
        if (tone) {
            EXPECT_LE(tick - starts.back(), 300u);
        }
        previous = tone;
    }
    ASSERT_EQ(starts.size(), 11u);
    EXPECT_GE(starts[0] - T0, 5000u);
    EXPECT_LT(starts[0] - T0, 5046u);
    for (size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i] - starts[i - 1], 5000u);
        EXPECT_LT(starts[i] - starts[i - 1], 5046u);
    }
    EXPECT_EQ(toneBlocks, 11 * 7) << "300 ms of 46 ms blocks: 7 per burst";
}

TEST_F(KeepAlive, SoundResetsStateAndPhase)
{
    Block(T0);
    ASSERT_TRUE(Block(T0 + 5000));
    ASSERT_NE(Worker.FKeepAliveTonePhase, 0.0);
    // A peak of exactly 0.0005 is sound: untouched, and the state is reset.
    Out.assign(KFrames * 2, 0.0f);
    Out[77] = -0.0005f;
    const std::vector<float> sound = Out;
    Worker.ApplyKeepAliveTone(Out, KFrames, 2, T0 + 5100);
    EXPECT_EQ(Out, sound);
    EXPECT_EQ(Worker.FSilenceStartTick, 0u);
    EXPECT_EQ(Worker.FNextKeepAliveToneTick, 0u);
    EXPECT_EQ(Worker.FKeepAliveToneUntilTick, 0u);
    EXPECT_EQ(Worker.FKeepAliveTonePhase, 0.0);
    // Silence starts counting again from there.
    EXPECT_FALSE(Block(T0 + 5200));
    EXPECT_FALSE(Block(T0 + 10199));
    EXPECT_TRUE(Block(T0 + 10200));
    EXPECT_FALSE(Block(T0 + 10300, 0.2f));
    EXPECT_EQ(Worker.FKeepAliveTonePhase, 0.0);
    // Just below the threshold is silence.
    EXPECT_FALSE(Block(T0 + 10400, 0.00049f));
    EXPECT_EQ(Worker.FSilenceStartTick, T0 + 10400);
}

TEST_F(KeepAlive, MonoAndMalformedBlocks)
{
    Block(T0);
    std::vector<float> mono(KFrames, 0.0f);
    Worker.ApplyKeepAliveTone(mono, KFrames, 1, T0 + 6000);
    EXPECT_NE(mono[10], 0.0f);
    // Fewer values than frames x channels, or no frames: nothing happens.
    std::vector<float> shortBlock(KFrames * 2 - 1, 0.0f);
    Worker.ApplyKeepAliveTone(shortBlock, KFrames, 2, T0 + 6100);
    EXPECT_EQ(shortBlock, std::vector<float>(KFrames * 2 - 1, 0.0f));
    const uint64_t until = Worker.FKeepAliveToneUntilTick;
    Worker.ApplyKeepAliveTone(shortBlock, 0, 2, T0 + 9000);
    Worker.ApplyKeepAliveTone(shortBlock, -4, 2, T0 + 9000);
    EXPECT_EQ(Worker.FKeepAliveToneUntilTick, until);
    // Channels above 2 count as 2.
    std::vector<float> wide(KFrames * 2, 0.0f);
    Worker.ApplyKeepAliveTone(wide, KFrames, 6, T0 + 6200);
    EXPECT_NE(wide[2 * KFrames - 1], 0.0f);
}
