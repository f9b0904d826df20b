#include "codecs/SampleConversion.h"

#include <cmath>

namespace {

// NaN fails every comparison, so it is caught before the clamp.
double Clamped(float AValue)
{
    if (std::isnan(AValue))
        return 0.0;
    if (AValue > 1.0f)
        return 1.0;
    if (AValue < -1.0f)
        return -1.0;
    return AValue;
}

} // namespace

int16_t FloatToAacSample(float AValue)
{
    // nearbyint rounds halves to even in the default rounding mode.
    return static_cast<int16_t>(std::nearbyint(Clamped(AValue) * 32767.0));
}

int32_t FloatToFlacSample(float AValue)
{
    const double x = Clamped(AValue);
    if (x <= -1.0)
        return -32768;
    return static_cast<int32_t>(std::nearbyint(x * 32767.0));
}

void ToAacSamples(const float* APcm, size_t ACount, std::vector<int16_t>& AOut)
{
    AOut.resize(ACount);
    for (size_t i = 0; i < ACount; ++i)
        AOut[i] = FloatToAacSample(APcm[i]);
}

void ToFlacSamples(const float* APcm, size_t ACount, std::vector<int32_t>& AOut)
{
    AOut.resize(ACount);
    for (size_t i = 0; i < ACount; ++i)
        AOut[i] = FloatToFlacSample(APcm[i]);
}

void ToOpusSamples(const float* APcm, size_t ACount, std::vector<float>& AOut)
{
    AOut.resize(ACount);
    for (size_t i = 0; i < ACount; ++i)
        AOut[i] = static_cast<float>(Clamped(APcm[i]));
}
