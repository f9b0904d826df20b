#pragma once

#include <cstdint>

// Tells when the programme has stayed below a level for a time, counted in
// audio frames so that it follows the capture, not the scheduler.
class TSilenceDetector {
public:
    TSilenceDetector(int32_t AThresholdDb, int32_t ASeconds, int32_t ASampleRate);

    enum class TChange { None, Raised, Cleared };
    // One block's peak (0 to 1) before the keep-alive tone is added.
    TChange Feed(float APeak, int32_t AFrames);
    bool Raised() const { return FRaised; }
    // The settings as used: 1 s to a day, -120 to 0 dBFS.
    int32_t Seconds() const { return FSeconds; }
    int32_t ThresholdDb() const { return FThresholdDb; }
    float ThresholdPeak() const { return FThreshold; }
    // Whether APeak counts as sound.
    bool IsSound(float APeak) const { return APeak >= FThreshold; }

private:
    int32_t FThresholdDb;
    int32_t FSeconds;
    float FThreshold;
    int64_t FFramesNeeded;
    int64_t FQuietFrames = 0;
    bool FRaised = false;
};
