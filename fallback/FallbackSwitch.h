#pragma once

#include <cstdint>

// When the fallback programme takes over from the programme and gives it
// back. The programme silent for the set time: the fallback fades in over
// a couple of seconds and the programme out. The programme heard again for
// a few seconds in a row: the fallback fades out and the programme in.
// A blip of sound, or of silence, changes nothing.
class TFallbackSwitch {
public:
    enum class TChange { None, TakenOver, GivenBack };

    TFallbackSwitch(int32_t ASampleRate, int ASilentSeconds, double AFadeSeconds = 2.0, double ABackSeconds = 3.0);

    // A block of AFrames frames whose programme was sound or silent.
    TChange Note(bool AProgrammeSound, int AFrames);
    // The fallback can be heard in the block just noted (fading or full).
    bool Audible() const { return FGain > 0.0 || FPrevGain > 0.0; }
    // Mixes the block just noted in place: the programme faded by as much
    // as the fallback is faded in.
    void Mix(float* AProgramme, const float* AFallback, int AFrames, int AChannels) const;

private:
    int64_t FSilentAfter;
    int64_t FBackAfter;
    double FStepPerFrame;
    bool FEngaged = false;
    int64_t FSilentFrames = 0;
    int64_t FSoundFrames = 0;
    // The fallback's gain at the block's start and end, 0 to 1.
    double FPrevGain = 0.0;
    double FGain = 0.0;
};
