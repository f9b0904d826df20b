#include "dsp/Equalizer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

float DbToGain(double ADb)
{
    return static_cast<float>(std::pow(10.0, ADb / 20.0));
}

double ProcessingSampleRate(int32_t ASampleRate)
{
    return std::max(8000.0, static_cast<double>(ASampleRate));
}

TEqualizerSetup PrepareEqualizer(const TEqBandGainsDb& AGainsDb, double ASampleRate)
{
    TEqualizerSetup setup;
    double largest = 0.0;
    for (int i = 0; i < KEqBandCount; ++i) {
        // A gain that is not a number (a damaged settings file) is no gain.
        const double db = std::isnan(AGainsDb[i])
                              ? 0.0
                              : std::clamp(AGainsDb[i], -KEqGainLimitDb, KEqGainLimitDb);
        largest = std::max(largest, db);
        setup.Gains[i] = DbToGain(db);
    }
    setup.Scale = DbToGain(-0.45 * largest);
    for (int k = 0; k < KEqSplitCount; ++k) {
        const double a = 1.0 - std::exp(-2.0 * std::numbers::pi * EqCrossoverHz[k] / ASampleRate);
        setup.Coefs[k] = static_cast<float>(std::clamp(a, 0.001, 0.95));
    }
    return setup;
}
