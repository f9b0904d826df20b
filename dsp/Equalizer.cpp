#include "dsp/Equalizer.h"
#include "dsp/CpuClones.h"

#include <algorithm>
#include <cstring>
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

namespace {

// Two frames of both sides: left, right, left, right.
typedef double TQuad __attribute__((vector_size(32)));
typedef float TQuadSingle __attribute__((vector_size(16)));
typedef int64_t TQuadBits __attribute__((vector_size(32)));

// Frames per pass of the filter states; their single-precision values
// wait here for the second pass.
constexpr int KPass = 128;

// Quads go by reference: by value they would have an ABI that depends on
// the instruction set. Inlined, so that each instruction set of
// EqualizeFrames gets its own copy.

[[gnu::always_inline]] inline void Widen(const TQuadSingle& ASingle, TQuad& AValue)
{
    // Lane by lane: the whole-vector conversion would be split into halves.
    AValue = TQuad{ASingle[0], ASingle[1], ASingle[2], ASingle[3]};
}

[[gnu::always_inline]] inline void AbsQuad(TQuad& AValue)
{
    constexpr TQuadBits noSign = {INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
    AValue = reinterpret_cast<TQuad>(reinterpret_cast<TQuadBits>(AValue) & noSign);
}

[[gnu::always_inline]] inline TStereo Lo(const TQuad& AValue)
{
    return __builtin_shufflevector(AValue, AValue, 0, 1);
}

[[gnu::always_inline]] inline TStereo Hi(const TQuad& AValue)
{
    return __builtin_shufflevector(AValue, AValue, 2, 3);
}

[[gnu::always_inline]] inline TQuadSingle LoadSingle(const float* AFrom)
{
    TQuadSingle value;
    std::memcpy(&value, AFrom, sizeof value);
    return value;
}

} // namespace

// Two passes. Only the filter states depend on the frame before; they go
// first, frame by frame, and are kept in single precision. The bands,
// their weighted sum and the meter groups then go two frames at a time.
// Each lane does exactly the arithmetic of the plain form. Bands, and the
// output scale, are one subtraction or product of two single-precision
// values: done in single precision they are rounded once, which for these
// operations gives the same value as double precision rounded to single.
TAVIX_CPU_CLONES
void EqualizeFrames(const float* AInput, int ACount, TStereo* AOutput, TEqFilterStates& ALeft,
                    TEqFilterStates& ARight, const TEqualizerSetup& ASetup, TEqBandSums& ASums)
{
    TStereo lp[KEqSplitCount], coef[KEqSplitCount];
    for (int k = 0; k < KEqSplitCount; ++k) {
        lp[k] = TStereo{ALeft[k], ARight[k]};
        coef[k] = TStereo{} + double(ASetup.Coefs[k]);
    }
    TQuad gain[KEqBandCount];
    for (int i = 0; i < KEqBandCount; ++i)
        gain[i] = TQuad{} + double(ASetup.Gains[i]);
    const TQuadSingle scale = TQuadSingle{} + ASetup.Scale;
    TStereo low = ASums.Low, mid = ASums.Mid, high = ASums.High;
    // States of each filter, frame after frame, both sides; room for an
    // odd frame's partner.
    alignas(16) float states[KEqSplitCount][2 * KPass + 2];
    alignas(16) float input[2 * KPass + 2];
    for (int first = 0; first < ACount; first += KPass) {
        const int count = std::min(KPass, ACount - first);
        const float* in = AInput + 2 * first;
        for (int n = 0; n < count; ++n) {
            const TStereo x = TStereo{in[2 * n], in[2 * n + 1]};
#pragma GCC unroll 9
            for (int k = 0; k < KEqSplitCount; ++k) {
                const __m128 single = _mm_cvtpd_ps(lp[k] + coef[k] * (x - lp[k]));
                _mm_storel_pi(reinterpret_cast<__m64*>(&states[k][2 * n]), single);
                lp[k] = _mm_cvtps_pd(single);
            }
        }
        std::memcpy(input, in, sizeof(float) * 2 * count);
        if (count % 2 != 0) {
            for (int k = 0; k < KEqSplitCount; ++k)
                states[k][2 * count] = states[k][2 * count + 1] = 0.0f;
            input[2 * count] = input[2 * count + 1] = 0.0f;
        }

        for (int n = 0; n < count; n += 2) {
            TQuadSingle bandSingle[KEqBandCount];
            bandSingle[0] = LoadSingle(&states[0][2 * n]);
#pragma GCC unroll 8
            for (int k = 1; k < KEqSplitCount; ++k)
                bandSingle[k] = LoadSingle(&states[k][2 * n]) - LoadSingle(&states[k - 1][2 * n]);
            bandSingle[KEqBandCount - 1] =
                LoadSingle(&input[2 * n]) - LoadSingle(&states[KEqSplitCount - 1][2 * n]);
            TQuad band[KEqBandCount];
#pragma GCC unroll 10
            for (int i = 0; i < KEqBandCount; ++i)
                Widen(bandSingle[i], band[i]);

            TQuad sum = band[0] * gain[0];
#pragma GCC unroll 9
            for (int i = 1; i < KEqBandCount; ++i)
                sum += band[i] * gain[i];
            TQuad y;
            Widen(scale * __builtin_convertvector(sum, TQuadSingle), y);
            std::memcpy(AOutput + first + n, &y, sizeof(TStereo) * std::min(2, count - n));

#pragma GCC unroll 10
            for (int i = 0; i < KEqBandCount; ++i)
                AbsQuad(band[i]);
            const TQuad groupLow = band[0] + band[1] + band[2];
            const TQuad groupMid = band[3] + band[4] + band[5] + band[6];
            const TQuad groupHigh = band[7] + band[8] + band[9];
            low += Lo(groupLow);
            mid += Lo(groupMid);
            high += Lo(groupHigh);
            if (n + 1 < count) {
                low += Hi(groupLow);
                mid += Hi(groupMid);
                high += Hi(groupHigh);
            }
        }
    }
    for (int k = 0; k < KEqSplitCount; ++k) {
        ALeft[k] = static_cast<float>(lp[k][0]);
        ARight[k] = static_cast<float>(lp[k][1]);
    }
    ASums = {low, mid, high};
}
