#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

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

// (APeak / threshold)^exponent for APeak at or above the threshold: the power
// function written out for this use, as exact as std::pow to about 1e-12
// but several times faster (it runs once per loud sample).
inline double CompressorTarget(double APeak)
{
    const double q = APeak / KCompThreshold;
    if (!(q >= 1.0 && q < 1e300))
        return std::pow(q, KCompExponent);
    // q = m * 2^e with m in [sqrt(1/2), sqrt(2)).
    const uint64_t bits = std::bit_cast<uint64_t>(q);
    int e = static_cast<int>(bits >> 52) - 1023;
    double m = std::bit_cast<double>((bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1023) << 52));
    if (m > std::numbers::sqrt2) {
        m *= 0.5;
        ++e;
    }
    // ln m = 2 atanh(s), a fast series for |s| <= 0.172.
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    const double s4 = s2 * s2, s8 = s4 * s4;
    const double lnM = 2.0 * s *
                       ((1.0 + s2 * (1.0 / 3)) + s4 * (1.0 / 5 + s2 * (1.0 / 7)) +
                        s8 * ((1.0 / 9 + s2 * (1.0 / 11)) + s4 * (1.0 / 13)));
    // 2^y = 2^n * e^(f ln 2) with |f| <= 1/2.
    const double y = KCompExponent * (e + lnM / std::numbers::ln2);
    const int n = static_cast<int>(y - 0.5);
    const double z = (y - n) * std::numbers::ln2;
    // Taylor series of e^z, |z| <= 0.347: 1 / k! factors, Estrin's scheme
    // to keep the dependency chain short.
    const double z2 = z * z, z4 = z2 * z2, z8 = z4 * z4;
    const double ez =
        (1.0 + z) + z2 * (1.0 / 2 + z * (1.0 / 6)) +
        z4 * ((1.0 / 24 + z * (1.0 / 120)) + z2 * (1.0 / 720 + z * (1.0 / 5040))) +
        z8 * ((1.0 / 40320 + z * (1.0 / 362880)) + z2 * (1.0 / 3628800 + z * (1.0 / 39916800)) +
              z4 * (1.0 / 479001600));
    return ez * std::bit_cast<double>(static_cast<uint64_t>(n + 1023) << 52);
}

// Gain the compressor aims at for a peak: 1 up to the threshold.
inline double CompressorTargetFor(double APeak)
{
    // At the threshold itself the power is exactly 1: no branch needed.
    return CompressorTarget(std::max(APeak, KCompThreshold));
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
