#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

// The highest absolute sample of ACount interleaved floats.
inline float PeakOf(const float* ASamples, size_t ACount)
{
    float peak = 0.0f;
    for (size_t i = 0; i < ACount; ++i)
        peak = std::max(peak, std::fabs(ASamples[i]));
    return peak;
}
