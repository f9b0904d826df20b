#include "monitoring/SilenceDetector.h"

#include <algorithm>
#include <cmath>

TSilenceDetector::TSilenceDetector(int32_t AThresholdDb, int32_t ASeconds, int32_t ASampleRate)
    : FThresholdDb(std::clamp(AThresholdDb, -120, 0)), FSeconds(std::clamp(ASeconds, 1, 86400)),
      FThreshold(static_cast<float>(std::pow(10.0, FThresholdDb / 20.0))),
      FFramesNeeded(int64_t{FSeconds} * std::max(ASampleRate, 1))
{
}

TSilenceDetector::TChange TSilenceDetector::Feed(float APeak, int32_t AFrames)
{
    if (IsSound(APeak)) {
        FQuietFrames = 0;
        if (!FRaised)
            return TChange::None;
        FRaised = false;
        return TChange::Cleared;
    }
    FQuietFrames += std::max(AFrames, 0);
    if (FRaised || FQuietFrames < FFramesNeeded)
        return TChange::None;
    FRaised = true;
    return TChange::Raised;
}
