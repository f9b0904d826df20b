#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// A line for the operator about the fallback's own trouble.
using TFallbackNotice = std::function<void(const std::string& AText)>;

// Where the fallback programme's audio comes from. Read on the fallback's
// own thread, so it may block; never on the audio thread.
class TFallbackSource {
public:
    virtual ~TFallbackSource() = default;
    // Appends more interleaved frames, at the transmission's rate and
    // channel count, to AOut; may append none after waiting a while. Returns
    // soon once AStop is set.
    virtual void Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop) = 0;
    // A live source comes whether it is played or not (a stream, a
    // channel): what is not played is dropped. A folder waits for its turn.
    virtual bool Live() const = 0;
};

// Waits up to AMs, in short steps, unless AStop is set.
void SleepUnlessStopped(int AMs, const std::atomic<bool>& AStop);
