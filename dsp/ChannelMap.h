#pragma once

// Left and right of one captured frame: mono goes to both sides; with
// three or more channels the even ones make the left, the odd ones the
// right (surround layouts alternate sides).
inline void MapToStereo(const float* AFrame, int AChannels, float& ALeft, float& ARight)
{
    if (AChannels <= 1) {
        ALeft = ARight = AFrame[0];
        return;
    }
    if (AChannels == 2) {
        ALeft = AFrame[0];
        ARight = AFrame[1];
        return;
    }
    double even = 0.0, odd = 0.0;
    for (int c = 0; c < AChannels; c += 2)
        even += AFrame[c];
    for (int c = 1; c < AChannels; c += 2)
        odd += AFrame[c];
    ALeft = static_cast<float>(even / ((AChannels + 1) / 2));
    ARight = static_cast<float>(odd / (AChannels / 2));
}
