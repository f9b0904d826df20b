#include <gtest/gtest.h>

#include <complex>
#include <random>

#include "dsp/EqPresets.h"
#include "dsp/Equalizer.h"
#include "tests/dsp/ProbeWorker.h"

namespace {

// Frequency response of the equalizer worked out from its filters'
// transfer functions, independent of the time-domain code.
double ModelGainDb(const TEqualizerSetup& ASetup, double AFreqHz, double ARate)
{
    const std::complex<double> z =
        std::polar(1.0, -2 * std::numbers::pi * AFreqHz / ARate);
    std::complex<double> lp[KEqSplitCount];
    for (int k = 0; k < KEqSplitCount; ++k)
        lp[k] = double(ASetup.Coefs[k]) / (1.0 - (1.0 - ASetup.Coefs[k]) * z);
    std::complex<double> sum = lp[0] * double(ASetup.Gains[0]);
    for (int k = 1; k < KEqSplitCount; ++k)
        sum += (lp[k] - lp[k - 1]) * double(ASetup.Gains[k]);
    sum += (1.0 - lp[KEqSplitCount - 1]) * double(ASetup.Gains[KEqBandCount - 1]);
    return 20 * std::log10(ASetup.Scale * std::abs(sum));
}

// Gain of the worker for a sine, measured on its settled second half.
double MeasuredGainDb(const TEqBandGainsDb& AGains, double AFreqHz)
{
    TEncoderConfig cfg = ProcessingConfig();
    cfg.EQBands = AGains;
    TProbeWorker worker(cfg);
    const std::vector<float> in = Sine(AFreqHz, 44100, 44100, 2, 0.1);
    const std::vector<float> out = worker.Process(in, 2);
    double eIn = 0, eOut = 0;
    for (size_t i = in.size() / 2; i < in.size(); ++i) {
        eIn += double(in[i]) * in[i];
        eOut += double(out[i]) * out[i];
    }
    return 10 * std::log10(eOut / eIn);
}

TEqBandGainsDb OneBand(int ABand, double ADb)
{
    TEqBandGainsDb gains{};
    gains[ABand] = ADb;
    return gains;
}

} // namespace

TEST(Equalizer, FlatGainsGiveTheInputBack)
{
    TProbeWorker worker(ProcessingConfig());
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.9f, 0.9f);
    std::vector<float> in(2048 * 2);
    for (int block = 0; block < 4; ++block) {
        for (float& s : in)
            s = noise(rng);
        const std::vector<float> out = worker.Process(in, 2);
        ASSERT_EQ(out.size(), in.size());
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_NEAR(out[i], in[i], 1e-6) << "block " << block << " sample " << i;
    }
    EXPECT_NE(worker.FEQLP_L[0], 0.0f) << "the filters ran";
}

TEST(Equalizer, BoostRaisesItsBandAndLittleFartherAway)
{
    const TEqualizerSetup setup = PrepareEqualizer(OneBand(5, 12), 44100);
    const double headroom = -0.45 * 12;
    // Band 5 is 707..1414 Hz; 250 Hz is the centre of band 3.
    const double centre = MeasuredGainDb(OneBand(5, 12), 1000);
    const double twoAway = MeasuredGainDb(OneBand(5, 12), 250);
    const double farAway = MeasuredGainDb(OneBand(5, 12), 31);
    EXPECT_NEAR(centre, ModelGainDb(setup, 1000, 44100), 0.05);
    EXPECT_NEAR(twoAway, ModelGainDb(setup, 250, 44100), 0.05);
    EXPECT_NEAR(farAway, ModelGainDb(setup, 31, 44100), 0.05);
    // One-pole splits overlap: the boosted band gains about 6 dB at its
    // centre, two bands away about 2.3 dB, four bands away nothing.
    EXPECT_NEAR(centre - headroom, 5.98, 0.1);
    EXPECT_NEAR(twoAway - headroom, 2.32, 0.1);
    EXPECT_NEAR(farAway - headroom, 0.0, 0.1);
    // A cut on another band leaves the tone alone.
    EXPECT_NEAR(MeasuredGainDb(OneBand(0, -12), 4000), 0.0, 0.05);
}

TEST(Equalizer, GainsClampedAndHeadroomForTheLargestBoost)
{
    TEqBandGainsDb gains{};
    gains[2] = 20;
    gains[7] = -30;
    const TEqualizerSetup wild = PrepareEqualizer(gains, 44100);
    gains[2] = 12;
    gains[7] = -12;
    const TEqualizerSetup limited = PrepareEqualizer(gains, 44100);
    EXPECT_EQ(wild.Gains, limited.Gains);
    EXPECT_EQ(wild.Scale, limited.Scale);
    EXPECT_FLOAT_EQ(limited.Gains[2], 3.9810717f);
    EXPECT_FLOAT_EQ(limited.Gains[7], 0.25118864f);
    EXPECT_FLOAT_EQ(limited.Scale, DbToGain(-5.4));

    gains = {3, 6, -12, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_FLOAT_EQ(PrepareEqualizer(gains, 44100).Scale, DbToGain(-2.7));
    gains = {-1, -6, -12, -3, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(PrepareEqualizer(gains, 44100).Scale, 1.0f) << "cuts alone keep the level";
    gains.fill(std::nan(""));
    const TEqualizerSetup damaged = PrepareEqualizer(gains, 44100);
    EXPECT_EQ(damaged.Scale, 1.0f);
    EXPECT_EQ(damaged.Gains[0], 1.0f) << "a gain that is not a number counts as 0 dB";

    // Through the worker: +20 dB sounds like +12 dB.
    TEncoderConfig cfg = ProcessingConfig();
    cfg.EQBands = OneBand(4, 20);
    TProbeWorker loud(cfg);
    cfg.EQBands = OneBand(4, 12);
    TProbeWorker twelve(cfg);
    const std::vector<float> in = Sine(500, 44100, 2048, 1, 0.3);
    EXPECT_EQ(loud.Process(in, 1), twelve.Process(in, 1));
}

TEST(Equalizer, CoefficientsHeldAtTheNyquistEnd)
{
    const TEqualizerSetup low = PrepareEqualizer({}, 8000);
    EXPECT_EQ(low.Coefs[8], 0.95f);
    EXPECT_EQ(low.Coefs[7], 0.95f);
    EXPECT_LT(low.Coefs[6], 0.95f);
    EXPECT_FLOAT_EQ(low.Coefs[0], float(1 - std::exp(-2 * std::numbers::pi * 44 / 8000)));
    const TEqualizerSetup cd = PrepareEqualizer({}, 44100);
    EXPECT_LT(cd.Coefs[8], 0.95f);
    EXPECT_FLOAT_EQ(cd.Coefs[8], float(1 - std::exp(-2 * std::numbers::pi * 11314 / 44100)));
    // Rates below 8000 Hz are processed as 8000 Hz.
    EXPECT_EQ(ProcessingSampleRate(4000), 8000.0);
    EXPECT_EQ(ProcessingSampleRate(0), 8000.0);
    EXPECT_EQ(ProcessingSampleRate(48000), 48000.0);
}

TEST(EqPresets, LookupIgnoresAsciiCaseAndFallsBackToFlat)
{
    EXPECT_EQ(EqPresetRow("voice"), 1);
    EXPECT_EQ(EqPresetRow("VoIcE"), 1);
    EXPECT_EQ(EqPresetRow("Music"), 2);
    EXPECT_EQ(EqPresetRow("BASS"), 3);
    EXPECT_EQ(EqPresetRow("presence"), 4);
    for (const char* other : {"flat", "custom", "", "voice ", "bas"})
        EXPECT_EQ(EqPresetRow(other), 0) << other;
    for (int row = 0; row < KEqPresetCount; ++row)
        EXPECT_EQ(EqPresetRow(EqPresetNames[row]), row);
    // The two tables differ on purpose.
    EXPECT_EQ(MainPresetGains[1][0], -5);
    EXPECT_EQ(DialogPresetGains[1][0], -3);
    EXPECT_EQ(MainPresetGains[4][6], 4);
    EXPECT_EQ(DialogPresetGains[3][7], 1);
    EXPECT_EQ(MainPresetGains[0], TEqBandGainsDb{});
}
