#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "dsp/ChannelMap.h"
#include "dsp/Equalizer.h"
#include "dsp/FastPower.h"
#include "tests/dsp/ProbeWorker.h"

// The processing pass written plainly, frame by frame, with std::pow for
// the compressor: the model the worker's faster pass must follow.
namespace {

struct TReference {
    TEqBandGainsDb GainsDb{};
    bool Compressor = false;
    double Rate = 44100;
    TEqStereoStates Lp{};
    float Gain = 1.0f;

    // Returns the five levels; AOut gets frames x AOutChannels values.
    std::array<double, 5> Process(const std::vector<float>& AIn, int AInChannels,
                                  int AOutChannels, std::vector<float>& AOut)
    {
        const TEqStereoSetup eq(PrepareEqualizer(GainsDb, Rate));
        const int frames = static_cast<int>(AIn.size()) / AInChannels;
        AOut.assign(static_cast<size_t>(frames) * AOutChannels, 0.0f);
        TEqStereoBands bands;
        double sum[5] = {};
        for (int n = 0; n < frames; ++n) {
            float l, r;
            MapToStereo(&AIn[static_cast<size_t>(n) * AInChannels], AInChannels, l, r);
            TStereo y = EqualizeFrame(TStereo{l, r}, Lp, eq, bands);
            if (Compressor) {
                const double peak = std::max(std::fabs(y[0]), std::fabs(y[1]));
                const double target = peak <= 0.5 ? 1.0 : std::pow(peak / 0.5, -0.66);
                const double k = Gain > target ? 0.35 : 0.02;
                Gain = static_cast<float>(std::clamp(Gain + k * (target - Gain), 0.2, 1.15));
                y = RoundToSingle(y * (static_cast<double>(Gain) * 1.05));
            }
            const double yl = std::clamp(y[0], -double(0.98f), double(0.98f));
            const double yr = std::clamp(y[1], -double(0.98f), double(0.98f));
            if (AOutChannels == 1) {
                AOut[n] = static_cast<float>((yl + yr) * 0.5);
            } else {
                AOut[2 * n] = static_cast<float>(yl);
                AOut[2 * n + 1] = static_cast<float>(yr);
            }
            sum[0] += std::fabs(yl);
            sum[1] += std::fabs(yr);
            for (int i = 0; i < KEqBandCount; ++i)
                sum[i < 3 ? 2 : i < 7 ? 3 : 4] += std::fabs(bands[i][0]) + std::fabs(bands[i][1]);
        }
        const double count = std::max(frames, 1);
        return {std::min(1.0, sum[0] / count * 3.5), std::min(1.0, sum[1] / count * 3.5),
                std::min(1.0, sum[2] / 6 / count * 5), std::min(1.0, sum[3] / 8 / count * 5),
                std::min(1.0, sum[4] / 6 / count * 5)};
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

} // namespace

TEST(CompressorReference, WorkerFollowsThePlainModel)
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
                ASSERT_LE(worst, 1e-6) << "block " << b;
                ASSERT_NEAR(worker.FCompGain, model.Gain, 1e-6) << "block " << b;
                lowest = std::min(lowest, model.Gain);
                const TProbeWorker::TLevels& l = worker.Levels.back();
                const double gotLevels[5] = {l.L, l.R, l.Low, l.Mid, l.High};
                for (int i = 0; i < 5; ++i)
                    ASSERT_NEAR(gotLevels[i], levels[i], 1e-6) << "block " << b << " level " << i;
            }
            EXPECT_LT(lowest, 0.6f) << "the programme is compressed hard at times";
        }
    }
}
