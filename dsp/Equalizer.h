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

using TEqFilterStates = std::array<float, KEqSplitCount>;

// Per side, the absolute band signals (before the gains) added up by meter
// group: bands 0 ... 2, 3 ... 6 and 7 ... 9.
struct TEqBandSums {
    TStereo Low{}, Mid{}, High{};
};

// Equalizes ACount frames of AInput (left and right side by side) into
// AOutput, carrying the filter states of both sides along and adding each
// frame's band groups to ASums. The weighted bands are summed in double,
// in band order, and stored once.
void EqualizeFrames(const float* AInput, int ACount, TStereo* AOutput, TEqFilterStates& ALeft,
                    TEqFilterStates& ARight, const TEqualizerSetup& ASetup, TEqBandSums& ASums);
