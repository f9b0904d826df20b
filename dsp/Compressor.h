#pragma once

#include <algorithm>

#include "dsp/Equalizer.h"
#include "dsp/FastPower.h"

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

// How far the louder side of a frame is above the threshold, as a factor
// of at least 1, for two frames side by side: at or below the threshold
// the target is then a power of 1, exactly 1, and one power covers every
// frame. A left side that is not a number counts as quiet rather than
// leaving the gain NaN for good.
inline TStereo CompressorOvershoot(TStereo ALeft, TStereo ARight)
{
    ALeft = ALeft < 0 ? -ALeft : ALeft;
    ARight = ARight < 0 ? -ARight : ARight;
    const TStereo over = (ALeft < ARight ? ARight : ALeft) / KCompThreshold;
    return over > 1.0 ? over : 1.0;
}

// The gains the compressor aims at, overshoot^exponent, in place; ACount a
// multiple of KFastPowLanes.
inline void CompressorTargets(double* AOvershoots, int ACount)
{
    FastPow(AOvershoots, ACount, KCompExponent);
}

// Moves AGain one sample towards ATarget and returns the factor to apply
// to the sample (gain times make-up).
inline double StepCompressor(float& AGain, double ATarget)
{
    // Both moves are worked out while the comparison runs: the choice then
    // does not hold up the chain of dependent steps from sample to sample.
    const double gap = ATarget - AGain;
    const double down = AGain + KCompAttack * gap;
    const double up = AGain + KCompRelease * gap;
    const double gain = std::clamp(AGain > ATarget ? down : up, KCompMinGain, KCompMaxGain);
    AGain = static_cast<float>(gain);
    return static_cast<double>(AGain) * KCompMakeUp;
}
