#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "dsp/ChannelMap.h"
#include "dsp/Equalizer.h"
#include "dsp/FastPower.h"
#include "tests/dsp/ProbeWorker.h"
#include "tests/dsp/ReferenceEqualizer.h"

// The processing pass written plainly, frame by frame: the model the
// worker's faster pass must follow. With std::pow for the compressor it
// checks the fast power function too (within 1e-6); with that power
// function itself every value must come out bit for bit.
namespace {

double StdPower(double AOvershoot)
{
    return std::pow(AOvershoot, -0.66);
}

double FastPower(double AOvershoot)
{
    double lanes[KFastPowLanes];
    std::fill(std::begin(lanes), std::end(lanes), AOvershoot);
    FastPow(lanes, KFastPowLanes, -0.66);
    return lanes[0];
}

struct TReference {
    TEqBandGainsDb GainsDb{};
    bool Compressor = false;
    double Rate = 44100;
    double (*Power)(double) = StdPower;
    TReferenceEqualizer Left, Right;
    float Gain = 1.0f;

    // Returns the five levels; AOut gets frames x AOutChannels values.
    std::array<double, 5> Process(const std::vector<float>& AIn, int AInChannels,
                                  int AOutChannels, std::vector<float>& AOut)
    {
        const TEqualizerSetup eq(PrepareEqualizer(GainsDb, Rate));
        const int frames = static_cast<int>(AIn.size()) / AInChannels;
        AOut.assign(static_cast<size_t>(frames) * AOutChannels, 0.0f);
        TReferenceEqualizer::TBands bands[2];
        // Per side: output, low, mid and high band groups.
        double sum[2][4] = {};
        for (int n = 0; n < frames; ++n) {
            float l, r;
            MapToStereo(&AIn[static_cast<size_t>(n) * AInChannels], AInChannels, l, r);
            double y[2] = {Left.Step(l, eq, bands[0]), Right.Step(r, eq, bands[1])};
            if (Compressor) {
                const double peak = std::max(std::fabs(y[0]), std::fabs(y[1]));
                const double target = peak <= 0.5 ? 1.0 : Power(peak / 0.5);
                const double k = Gain > target ? 0.35 : 0.02;
                Gain = static_cast<float>(std::clamp(Gain + k * (target - Gain), 0.2, 1.15));
                const double factor = static_cast<double>(Gain) * 1.05;
                y[0] = static_cast<float>(y[0] * factor);
                y[1] = static_cast<float>(y[1] * factor);
            }
            y[0] = std::clamp(y[0], -double(0.98f), double(0.98f));
            y[1] = std::clamp(y[1], -double(0.98f), double(0.98f));
            if (AOutChannels == 1) {
                AOut[n] = static_cast<float>((y[0] + y[1]) * 0.5);
            } else {
                AOut[2 * n] = static_cast<float>(y[0]);
                AOut[2 * n + 1] = static_cast<float>(y[1]);
            }
            for (int side = 0; side < 2; ++side) {
                sum[side][0] += std::fabs(y[side]);
                double group[3] = {};
                for (int i = 0; i < KEqBandCount; ++i)
                    group[i < 3 ? 0 : i < 7 ? 1 : 2] += std::fabs(bands[side][i]);
                for (int g = 0; g < 3; ++g)
                    sum[side][g + 1] += group[g];
            }
        }
        const double count = std::max(frames, 1);
        const auto level = [&](int AGroup, double ADivisor, double AScale) {
            return std::min(1.0, (sum[0][AGroup] + sum[1][AGroup]) / ADivisor / count * AScale);
        };
        return {std::min(1.0, sum[0][0] / count * 3.5), std::min(1.0, sum[1][0] / count * 3.5),
                level(1, 6, 5), level(2, 8, 5), level(3, 6, 5)};
    }
};

// A few seconds of programme at 44100 Hz, AChannels interleaved: a loud
// sweep, noise, full-scale steps, silence and a quiet passage the gain
// releases over.
std::vector<float> Programme(int AChannels)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> out;
    const auto add = [&](int AFrames, auto ASample) {
        for (int n = 0; n < AFrames; ++n)
            for (int c = 0; c < AChannels; ++c)
                out.push_back(ASample(n, c));
    };
    double phase = 0;
    add(88200, [&](int n, int c) {
        if (c == 0)
            phase += 2 * std::numbers::pi * (30.0 * std::pow(600.0, n / 88200.0)) / 44100;
        return static_cast<float>((c % 2 ? 1.3 : 0.9) * std::sin(phase + c));
    });
    add(22050, [&](int, int) { return 2.5f * noise(rng); });
    add(22050, [&](int n, int c) { return (n / 1500 % 2 ? 1.0f : -1.0f) * (c % 2 ? 1.0f : 0.6f); });
    add(11025, [](int, int) { return 0.0f; });
    add(22050, [&](int n, int) {
        return static_cast<float>(0.05 * std::sin(n * 0.07) + 0.02 * noise(rng));
    });
    add(22050, [&](int n, int c) { return static_cast<float>(8.0 * std::sin(n * 0.01 + c)); });
    return out;
}

// Runs the programme through a worker and the model in blocks of many sizes
// and compares every output value, the filter states, the compressor gain
// and the levels after each block; values may differ by ATolerance at most.
void CompareWithModel(double (*APower)(double), double ATolerance)
{
    // Block sizes off and on the processing chunks, an empty block, odd sizes.
    const int sizes[] = {2048, 1, 255, 256, 257, 0, 4099, 700, 513, 8192};
    for (const int inChannels : {1, 2, 3, 6}) {
        for (const int outChannels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << inChannels << " in, " << outChannels << " out");
            TEncoderConfig cfg = ProcessingConfig(44100, true);
            cfg.EQBands = {6, 3, 0, -2, 0, 4, 12, 2, -6, 1};
            TProbeWorker worker(cfg);
            TReference model;
            model.GainsDb = cfg.EQBands;
            model.Power = APower;
            const std::vector<float> in = Programme(inChannels);
            std::vector<float> expected;
            float lowest = 1.0f;
            size_t at = 0;
            for (int b = 0; at < in.size(); ++b) {
                const size_t take = std::min(in.size() - at,
                                             static_cast<size_t>(sizes[b % 10]) * inChannels);
                const std::vector<float> block(in.begin() + at, in.begin() + at + take);
                at += take;
                // The compressor goes off and on now and then; the gain waits.
                model.Compressor = b % 7 != 3;
                cfg.CompressorEnabled = model.Compressor;
                worker.UpdateAudioProcessing(cfg);

                const std::array<double, 5> levels = model.Process(block, inChannels, outChannels, expected);
                const std::vector<float> got = worker.Process(block, inChannels, outChannels);
                ASSERT_EQ(got.size(), expected.size());
                double worst = 0;
                for (size_t i = 0; i < got.size(); ++i)
                    worst = std::max(worst, std::fabs(double(got[i]) - expected[i]));
                ASSERT_LE(worst, ATolerance) << "block " << b;
                for (int k = 0; k < KEqSplitCount; ++k) {
                    ASSERT_EQ(worker.FEQLP_L[k], model.Left.Lp[k]) << "block " << b << " filter " << k;
                    ASSERT_EQ(worker.FEQLP_R[k], model.Right.Lp[k]) << "block " << b << " filter " << k;
                }
                ASSERT_NEAR(worker.FCompGain, model.Gain, ATolerance) << "block " << b;
                lowest = std::min(lowest, model.Gain);
                const TProbeWorker::TLevels& l = worker.Levels.back();
                const double gotLevels[5] = {l.L, l.R, l.Low, l.Mid, l.High};
                for (int i = 0; i < 5; ++i)
                    ASSERT_NEAR(gotLevels[i], levels[i], ATolerance) << "block " << b << " level " << i << " " << gotLevels[0] << " " << levels[0] << " " << expected[0];
            }
            EXPECT_LT(lowest, 0.6f) << "the programme is compressed hard at times";
        }
    }
}

} // namespace

TEST(CompressorReference, WorkerFollowsThePlainModel)
{
    CompareWithModel(StdPower, 1e-6);
}

TEST(CompressorReference, WorkerMatchesTheModelBitForBit)
{
    CompareWithModel(FastPower, 0.0);
}
