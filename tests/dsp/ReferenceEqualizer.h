#pragma once

#include <array>

#include "dsp/Equalizer.h"

// The equalizer written plainly, one channel and one filter at a time: the
// model the worker's vectorised pass must match bit for bit. Arithmetic in
// double, every stored value (states, bands, sums) in single precision.
struct TReferenceEqualizer {
    using TBands = std::array<float, KEqBandCount>;

    std::array<float, KEqSplitCount> Lp{};

    // One sample: returns the equalized value and fills the band signals
    // (before the gains).
    float Step(float AInput, const TEqualizerSetup& ASetup, TBands& ABands)
    {
        const double x = AInput;
        for (int k = 0; k < KEqSplitCount; ++k)
            Lp[k] = static_cast<float>(Lp[k] + double(ASetup.Coefs[k]) * (x - Lp[k]));
        ABands[0] = Lp[0];
        for (int k = 1; k < KEqSplitCount; ++k)
            ABands[k] = static_cast<float>(double(Lp[k]) - Lp[k - 1]);
        ABands[KEqBandCount - 1] = static_cast<float>(x - Lp[KEqSplitCount - 1]);
        double sum = double(ABands[0]) * ASetup.Gains[0];
        for (int i = 1; i < KEqBandCount; ++i)
            sum += double(ABands[i]) * ASetup.Gains[i];
        return static_cast<float>(double(ASetup.Scale) * static_cast<float>(sum));
    }
};
