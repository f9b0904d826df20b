#pragma once

#include <cmath>

// A captured sample that is no finite number (a driver or converter
// fault) counts as silence: let through, it would stay in the filter
// states, and so in the output and the meters, until the stop.
inline float FiniteOrSilence(float ASample)
{
    return std::isfinite(ASample) ? ASample : 0.0f;
}

// Left and right of one captured frame: mono goes to both sides; with
// three or more channels the even ones make the left, the odd ones the
// right (surround layouts alternate sides).
inline void MapToStereo(const float* AFrame, int AChannels, float& ALeft, float& ARight)
{
    if (AChannels <= 1) {
        ALeft = ARight = FiniteOrSilence(AFrame[0]);
        return;
    }
    if (AChannels == 2) {
        ALeft = FiniteOrSilence(AFrame[0]);
        ARight = FiniteOrSilence(AFrame[1]);
        return;
    }
    double even = 0.0, odd = 0.0;
    for (int c = 0; c < AChannels; c += 2)
        even += FiniteOrSilence(AFrame[c]);
    for (int c = 1; c < AChannels; c += 2)
        odd += FiniteOrSilence(AFrame[c]);
    ALeft = static_cast<float>(even / ((AChannels + 1) / 2));
    ARight = static_cast<float>(odd / (AChannels / 2));
}
