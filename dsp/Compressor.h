#pragma once

#include <algorithm>
#include <cmath>

// Peak compressor with a per-sample smoothed gain: fast attack, slow
// release, fixed make-up gain.

constexpr double KCompThreshold = 0.5;
constexpr double KCompExponent = -0.66;
constexpr double KCompAttack = 0.35;
constexpr double KCompRelease = 0.02;
constexpr double KCompMinGain = 0.2;
constexpr double KCompMaxGain = 1.15;
constexpr double KCompMakeUp = 1.05;
// Where every processed sample is clipped, compressor on or off.
constexpr float KClipLevel = 0.98f;

// Gain the compressor aims at for a peak: 1 up to the threshold.
inline double CompressorTarget(double APeak)
{
    return APeak <= KCompThreshold ? 1.0 : std::pow(APeak / KCompThreshold, KCompExponent);
}

// Moves AGain one sample towards ATarget and returns the factor to apply
// to the sample (gain times make-up).
inline double StepCompressor(float& AGain, double ATarget)
{
    const double k = AGain > ATarget ? KCompAttack : KCompRelease;
    const double gain = std::clamp(AGain + k * (ATarget - AGain), KCompMinGain, KCompMaxGain);
    AGain = static_cast<float>(gain);
    return static_cast<double>(AGain) * KCompMakeUp;
}
