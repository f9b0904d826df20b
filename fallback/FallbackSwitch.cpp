#include "fallback/FallbackSwitch.h"

#include <algorithm>

TFallbackSwitch::TFallbackSwitch(int32_t ASampleRate, int ASilentSeconds, double AFadeSeconds, double ABackSeconds)
    : FSilentAfter(int64_t{std::max(ASilentSeconds, 1)} * ASampleRate),
      FBackAfter(static_cast<int64_t>(ABackSeconds * ASampleRate)),
      FStepPerFrame(1.0 / std::max(AFadeSeconds * ASampleRate, 1.0))
{
}

TFallbackSwitch::TChange TFallbackSwitch::Note(bool AProgrammeSound, int AFrames)
{
    FSilentFrames = AProgrammeSound ? 0 : FSilentFrames + AFrames;
    FSoundFrames = AProgrammeSound ? FSoundFrames + AFrames : 0;
    TChange change = TChange::None;
    if (!FEngaged && FSilentFrames >= FSilentAfter) {
        FEngaged = true;
        change = TChange::TakenOver;
    } else if (FEngaged && FSoundFrames >= FBackAfter) {
        FEngaged = false;
        change = TChange::GivenBack;
    }
    FPrevGain = FGain;
    const double step = FStepPerFrame * AFrames;
    FGain = std::clamp(FEngaged ? FGain + step : FGain - step, 0.0, 1.0);
    return change;
}

void TFallbackSwitch::Mix(float* AProgramme, const float* AFallback, int AFrames, int AChannels) const
{
    const double slope = AFrames > 0 ? (FGain - FPrevGain) / AFrames : 0.0;
    for (int f = 0; f < AFrames; ++f) {
        const float g = static_cast<float>(FPrevGain + slope * (f + 1));
        for (int c = 0; c < AChannels; ++c) {
            float& s = AProgramme[f * AChannels + c];
            s = s * (1.0f - g) + AFallback[f * AChannels + c] * g;
        }
    }
}
