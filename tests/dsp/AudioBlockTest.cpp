#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dsp/Compressor.h"
#include "dsp/Equalizer.h"
#include "tests/dsp/ProbeWorker.h"
#include "tests/dsp/ReferenceEqualizer.h"

namespace {

std::vector<float> LoudNoise(int AFrames, int AChannels, float ALimit)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-ALimit, ALimit);
    std::vector<float> out(static_cast<size_t>(AFrames) * AChannels);
    for (float& s : out)
        s = noise(rng);
    return out;
}

} // namespace

TEST(Compressor, FullScaleSettlesNearTwoThirdsAndOffKeepsTheGain)
{
    TEncoderConfig cfg = ProcessingConfig(44100, true);
    TProbeWorker worker(cfg);
    std::vector<float> out = worker.Process(Repeat({1.0f, 1.0f}, 2048), 2);
    EXPECT_NEAR(out[out.size() - 2], 0.6645f, 1e-4);
    EXPECT_NEAR(out.back(), 0.6645f, 1e-4);
    EXPECT_NEAR(out[0], (1 + 0.35 * (std::pow(2.0, -0.66) - 1)) * 1.05, 1e-5)
        << "first sample: one attack step";
    const float settled = worker.FCompGain;
    EXPECT_NEAR(settled, std::pow(2.0, -0.66), 1e-5);

    // Quiet input lets the gain rise slowly (release), never above 1.15.
    out = worker.Process(Repeat({0.1f, 0.1f}, 2048), 2);
    EXPECT_NEAR(worker.FCompGain, 1.0f, 1e-5);
    EXPECT_NEAR(out.back(), 0.105f, 1e-5);

    worker.Process(Repeat({1.0f, 1.0f}, 2048), 2);
    cfg.CompressorEnabled = false;
    worker.UpdateAudioProcessing(cfg);
    out = worker.Process(Repeat({0.5f, -1.5f}, 512), 2);
    EXPECT_EQ(worker.FCompGain, settled) << "off keeps the last gain";
    EXPECT_NEAR(out[2 * 511], 0.5f, 1e-6) << "off only equalizes";
    EXPECT_EQ(out[2 * 511 + 1], -0.98f) << "and clips";
}

TEST(Compressor, StepFollowsAttackAndRelease)
{
    float gain = 1.0f;
    EXPECT_DOUBLE_EQ(StepCompressor(gain, 1.0), 1.0 * KCompMakeUp);
    const double target = std::pow(1.5, -0.66);
    StepCompressor(gain, target);
    EXPECT_EQ(gain, float(1.0 + 0.35 * (target - 1.0)));
    gain = 0.5f;
    StepCompressor(gain, 1.0);
    EXPECT_EQ(gain, float(0.5 + 0.02 * 0.5));
    gain = 0.2f;
    StepCompressor(gain, 0.01);
    EXPECT_FLOAT_EQ(gain, 0.2f) << "never below 0.2";
}

TEST(Compressor, TargetsOnePastTheThresholdAndQuietForNaN)
{
    const TStereo over = CompressorOvershoot(TStereo{0.5, -1.0}, TStereo{-0.25, 0.75});
    EXPECT_EQ(over[0], 1.0) << "at the threshold";
    EXPECT_EQ(over[1], 2.0) << "the louder side, either sign";
    const TStereo nan = CompressorOvershoot(TStereo{NAN, 0.1}, TStereo{0.8, NAN});
    EXPECT_EQ(nan[0], 1.0) << "a NaN side never reaches the gain";
    EXPECT_EQ(nan[1], 1.0);
    double targets[KFastPowLanes] = {1.0, 2.0, 1000.0, INFINITY, 1.0, 1.0, 1.0, 1.0};
    CompressorTargets(targets, KFastPowLanes);
    EXPECT_EQ(targets[0], 1.0);
    EXPECT_NEAR(targets[1], std::pow(2.0, -0.66), 1e-9);
    EXPECT_NEAR(targets[2], std::pow(1000.0, -0.66), 1e-9);
    EXPECT_NEAR(targets[3], 0.0, 1e-12);
}

TEST(AudioBlock, OutputNeverBeyondTheClipLevel)
{
    for (const bool comp : {false, true}) {
        TEncoderConfig cfg = ProcessingConfig(44100, comp);
        cfg.EQBands = {12, 12, 12, 12, 12, 12, 12, 12, 12, 12};
        TProbeWorker worker(cfg);
        for (const int outChannels : {1, 2}) {
            const std::vector<float> out = worker.Process(LoudNoise(4096, 2, 4.0f), 2, outChannels);
            ASSERT_EQ(out.size(), 4096u * outChannels);
            const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
            EXPECT_GE(*lo, -0.98f) << comp;
            EXPECT_LE(*hi, 0.98f) << comp;
            EXPECT_LT(*lo, -0.9f) << "the noise does reach the limit";
        }
    }
}

TEST(AudioBlock, ChannelMappingAndMonoMix)
{
    TProbeWorker worker(ProcessingConfig());
    // Mono output: the mean of the equalized left and right.
    std::vector<float> out = worker.Process(Repeat({0.4f, -0.2f}, 64), 2, 1);
    ASSERT_EQ(out.size(), 64u);
    EXPECT_NEAR(out.back(), 0.1f, 1e-6);
    // Mono input feeds both sides.
    out = worker.Process(Repeat({0.3f}, 64), 1, 2);
    EXPECT_NEAR(out[126], 0.3f, 1e-6);
    EXPECT_NEAR(out[127], 0.3f, 1e-6);
    // Three channels: left is the mean of 0 and 2, right is channel 1.
    out = worker.Process(Repeat({0.2f, -0.5f, 0.6f}, 64), 3, 2);
    EXPECT_NEAR(out[126], 0.4f, 1e-6);
    EXPECT_NEAR(out[127], -0.5f, 1e-6);
    // Six channels: even ones to the left, odd ones to the right.
    out = worker.Process(Repeat({0.1f, 0.3f, 0.2f, -0.3f, 0.6f, 0.6f}, 64), 6, 2);
    EXPECT_NEAR(out[126], 0.3f, 1e-6);
    EXPECT_NEAR(out[127], 0.2f, 1e-6);
    // Channel counts out of range: 0 captured counts as 1, 5 outputs as 2.
    std::vector<float> grown(3, 7.0f);
    const std::vector<float> in = Repeat({0.25f}, 16);
    worker.ProcessAudioBlock(in.data(), 16, 0, grown, 5);
    ASSERT_EQ(grown.size(), 32u) << "grown to frames x 2";
    EXPECT_NEAR(grown[31], 0.25f, 1e-6);
    std::vector<float> roomy(100, 7.0f);
    worker.ProcessAudioBlock(in.data(), 16, 1, roomy, 2);
    EXPECT_EQ(roomy.size(), 100u) << "never shrinks";
    EXPECT_EQ(roomy[32], 7.0f) << "beyond the block stays untouched";
}

TEST(AudioBlock, SamplesThatAreNoNumbersCountAsSilence)
{
    constexpr int KFrames = 2048;
    constexpr uint64_t T0 = 1000000;
    TEncoderConfig cfg = ProcessingConfig(44100, true);
    cfg.EQBands = {6, 3, 0, 0, -3, 0, 0, 2, 0, 0};
    for (const float bad : {NAN, INFINITY, -INFINITY}) {
        for (const int channels : {1, 2, 6}) {
            SCOPED_TRACE(testing::Message() << bad << " in " << channels << " channels");
            // One bad sample in each channel, against the same block with
            // zeros there: every output and level must come out the same.
            std::vector<float> block = Sine(440, 44100, KFrames, channels, 0.3);
            std::vector<float> zeroed = block;
            for (int c = 0; c < channels; ++c) {
                block[static_cast<size_t>(100 + 7 * c) * channels + c] = bad;
                zeroed[static_cast<size_t>(100 + 7 * c) * channels + c] = 0.0f;
            }
            TProbeWorker hit(cfg), clean(cfg);
            EXPECT_EQ(hit.Process(block, channels), clean.Process(zeroed, channels));

            // Then a second of silence: nothing stays behind.
            const std::vector<float> silence(static_cast<size_t>(KFrames) * channels, 0.0f);
            std::vector<float> out;
            for (int i = 0; i < 22; ++i) {
                out = hit.Process(silence, channels);
                ASSERT_EQ(out, clean.Process(silence, channels)) << "block " << i;
            }
            for (const float v : out)
                ASSERT_LT(std::fabs(v), 0.0005f) << "no offset left";
            ASSERT_EQ(hit.Levels.size(), clean.Levels.size());
            for (size_t i = 0; i < hit.Levels.size(); ++i) {
                const auto& h = hit.Levels[i];
                const auto& c = clean.Levels[i];
                EXPECT_TRUE(h.L == c.L && h.R == c.R && h.Low == c.Low && h.Mid == c.Mid && h.High == c.High)
                    << "levels of block " << i;
            }
            const auto& last = hit.Levels.back();
            EXPECT_LT(last.L + last.R + last.Low + last.Mid + last.High, 0.001) << "meters fall back";
            // The silence is silence to the keep-alive stage too.
            hit.ApplyKeepAliveTone(out, KFrames, 2, T0);
            out = hit.Process(silence, channels);
            hit.ApplyKeepAliveTone(out, KFrames, 2, T0 + 5000);
            EXPECT_NE(*std::max_element(out.begin(), out.end()), 0.0f) << "the tone starts";
        }
    }
}

TEST(Meters, FiveLevelsPerBlockFromOutputAndUnscaledBands)
{
    TEncoderConfig cfg = ProcessingConfig();
    TProbeWorker flat(cfg);
    cfg.EQBands.fill(-12);
    TProbeWorker cut(cfg);
    const std::vector<float> bass = Sine(60, 44100, 8192, 2, 0.2);
    const std::vector<float> treble = Sine(6000, 44100, 8192, 2, 0.2);
    flat.Process(bass, 2);
    cut.Process(bass, 2);
    flat.Process(treble, 2);
    cut.Process(treble, 2);
    ASSERT_EQ(flat.Levels.size(), 2u);
    ASSERT_EQ(cut.Levels.size(), 2u);
    for (int b = 0; b < 2; ++b) {
        // Band meters read the bands before the gains...
        EXPECT_EQ(flat.Levels[b].Low, cut.Levels[b].Low);
        EXPECT_EQ(flat.Levels[b].Mid, cut.Levels[b].Mid);
        EXPECT_EQ(flat.Levels[b].High, cut.Levels[b].High);
        // ...the side meters the output: 3.5 x mean |y| (a sine: 2/pi x 0.2).
        EXPECT_NEAR(flat.Levels[b].L, 3.5 * 0.2 * 2 / std::numbers::pi, 0.005);
        EXPECT_NEAR(cut.Levels[b].L, flat.Levels[b].L * DbToGain(-12), 0.005);
        EXPECT_EQ(flat.Levels[b].L, flat.Levels[b].R);
    }
    EXPECT_GT(flat.Levels[0].Low, 2 * flat.Levels[0].High);
    EXPECT_GT(flat.Levels[1].High, 2 * flat.Levels[1].Low);

    // Loud input saturates at 1, never beyond.
    TProbeWorker loud(ProcessingConfig(44100, true));
    loud.Process(LoudNoise(2048, 2, 4.0f), 2);
    ASSERT_EQ(loud.Levels.size(), 1u);
    for (const double v : {loud.Levels[0].L, loud.Levels[0].R, loud.Levels[0].Low,
                           loud.Levels[0].Mid, loud.Levels[0].High}) {
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 1.0);
    }
    EXPECT_EQ(loud.Levels[0].L, 1.0);
}

TEST(Meters, BandGroupsAndScales)
{
    // Three tones, one per meter group, and the levels worked out from the
    // band signals of the bare equalizer.
    std::vector<float> in = Sine(100, 44100, 4096, 2, 0.2);
    const std::vector<float> mid = Sine(900, 44100, 4096, 2, 0.1);
    const std::vector<float> high = Sine(7000, 44100, 4096, 2, 0.05);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] += mid[i] + high[i] * (i % 2 ? -1.0f : 1.0f);
    TEncoderConfig cfg = ProcessingConfig();
    cfg.EQBands = {3, -2, 0, 1, 0, 0, 5, 0, -4, 0};
    TProbeWorker worker(cfg);
    worker.Process(in, 2);
    ASSERT_EQ(worker.Levels.size(), 1u);

    const TEqualizerSetup setup(PrepareEqualizer({}, 44100));
    TReferenceEqualizer left, right;
    TReferenceEqualizer::TBands bl, br;
    double low = 0, midSum = 0, highSum = 0;
    for (size_t n = 0; n < in.size() / 2; ++n) {
        left.Step(in[2 * n], setup, bl);
        right.Step(in[2 * n + 1], setup, br);
        double groups[3] = {0, 0, 0};
        for (int i = 0; i < 10; ++i)
            groups[i < 3 ? 0 : i < 7 ? 1 : 2] += std::fabs(bl[i]) + std::fabs(br[i]);
        low += groups[0] / 6;
        midSum += groups[1] / 8;
        highSum += groups[2] / 6;
    }
    const double frames = in.size() / 2.0;
    EXPECT_NEAR(worker.Levels[0].Low, std::min(1.0, 5 * low / frames), 1e-9);
    EXPECT_NEAR(worker.Levels[0].Mid, std::min(1.0, 5 * midSum / frames), 1e-9);
    EXPECT_NEAR(worker.Levels[0].High, std::min(1.0, 5 * highSum / frames), 1e-9);
    EXPECT_LT(worker.Levels[0].High, 1.0) << "the case is not saturated";
}

TEST(Meters, ZeroFramesReportZeros)
{
    TProbeWorker worker(ProcessingConfig());
    worker.Process(Repeat({0.5f, 0.5f}, 100), 2);
    EXPECT_GT(worker.Levels[0].L, 0.0);
    std::vector<float> out;
    for (const int frames : {0, -5}) {
        worker.ProcessAudioBlock(nullptr, frames, 2, out, 2);
        const TLevelReading r = worker.TNativeEncoderThread::Levels().Latest();
        const TAudioLevels& l = r.Levels;
        EXPECT_EQ(l.L + l.R + l.LowBand + l.MidBand + l.HighBand, 0.0);
        EXPECT_EQ(r.Frames, 100u) << "no frame counted for " << frames;
    }
    EXPECT_EQ(worker.TNativeEncoderThread::Levels().Latest().Blocks, 3u);
    EXPECT_TRUE(out.empty());
}
