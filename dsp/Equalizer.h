#pragma once

#include <array>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Ten-band equalizer: nine one-pole low-passes run in parallel on the same
// input split it into ten adjacent bands, which are scaled and summed
// again. With every gain at 0 dB the bands add up to the input. The
// arithmetic is double precision; every stored value is single precision.

constexpr int KEqBandCount = 10;
constexpr int KEqSplitCount = 9;
constexpr double KEqGainLimitDb = 12.0;

// Split frequencies between adjacent bands, Hz.
inline constexpr std::array<double, KEqSplitCount> EqCrossoverHz = {
    44, 88, 177, 354, 707, 1414, 2828, 5657, 11314};

using TEqBandGainsDb = std::array<double, KEqBandCount>;

float DbToGain(double ADb);

// The sample rate the processing works at: never below 8000 Hz.
double ProcessingSampleRate(int32_t ASampleRate);

// What one block needs, worked out once per block from the gains.
struct TEqualizerSetup {
    std::array<float, KEqBandCount> Gains{};     // linear, from the clamped dB gains
    float Scale = 1.0f;                          // headroom for the largest boost
    std::array<float, KEqSplitCount> Coefs{};    // low-pass coefficients
};

TEqualizerSetup PrepareEqualizer(const TEqBandGainsDb& AGainsDb, double ASampleRate);

// Left and right of one frame side by side, so that both channels go
// through the same instructions.
typedef double TStereo __attribute__((vector_size(16)));
typedef float TStereoSingle __attribute__((vector_size(8)));
using TEqStereoStates = std::array<TStereo, KEqSplitCount>;
using TEqStereoBands = std::array<TStereo, KEqBandCount>;

// Rounds both lanes to single precision: the stored precision of every
// filter state, band and sum.
inline TStereo RoundToSingle(TStereo AValue)
{
#if defined(__SSE2__)
    // The generic form spends an extra move clearing the unused lanes.
    return _mm_cvtps_pd(_mm_cvtpd_ps(AValue));
#else
    return __builtin_convertvector(__builtin_convertvector(AValue, TStereoSingle), TStereo);
#endif
}

// A block's setup with every factor in both lanes, in double.
struct TEqStereoSetup {
    explicit TEqStereoSetup(const TEqualizerSetup& ASetup)
    {
        for (int k = 0; k < KEqSplitCount; ++k)
            Coefs[k] = TStereo{ASetup.Coefs[k], ASetup.Coefs[k]};
        for (int i = 0; i < KEqBandCount; ++i)
            Gains[i] = TStereo{ASetup.Gains[i], ASetup.Gains[i]};
        Scale = TStereo{ASetup.Scale, ASetup.Scale};
    }
    std::array<TStereo, KEqSplitCount> Coefs;
    std::array<TStereo, KEqBandCount> Gains;
    TStereo Scale;
};

// One frame: updates the filter states, fills the ten band signals (before
// the gains) and returns the equalized left and right. The weighted bands
// are summed in double and stored once.
inline TStereo EqualizeFrame(TStereo AInput, TEqStereoStates& AStates,
                             const TEqStereoSetup& ASetup, TEqStereoBands& ABands)
{
#pragma GCC unroll 9
    for (int k = 0; k < KEqSplitCount; ++k)
        AStates[k] = RoundToSingle(AStates[k] + ASetup.Coefs[k] * (AInput - AStates[k]));
    ABands[0] = AStates[0];
#pragma GCC unroll 9
    for (int k = 1; k < KEqSplitCount; ++k)
        ABands[k] = RoundToSingle(AStates[k] - AStates[k - 1]);
    ABands[KEqBandCount - 1] = RoundToSingle(AInput - AStates[KEqSplitCount - 1]);
    TStereo sum = ABands[0] * ASetup.Gains[0];
#pragma GCC unroll 10
    for (int i = 1; i < KEqBandCount; ++i)
        sum += ABands[i] * ASetup.Gains[i];
    return RoundToSingle(ASetup.Scale * RoundToSingle(sum));
}
