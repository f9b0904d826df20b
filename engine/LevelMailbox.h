#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/AudioProcessor.h"

// The meters' latest reading and how far the capture has got.
struct TLevelReading {
    TAudioLevels Levels;
    uint64_t Blocks = 0; // blocks processed since the start
    uint64_t Frames = 0; // frames captured and processed since the start
};

// Where the audio thread leaves its levels once a block and the front ends
// read them on their own timers: atomics only, so neither side ever waits
// for the other, however long a window or a log takes.
class TLevelMailbox {
public:
    // The audio thread only.
    void Post(const TAudioLevels& ALevels, int AFrames);
    // Any thread. A reading is one block's five levels, unless the writer
    // keeps overtaking the reader, when a level may be a block newer.
    TLevelReading Latest() const;
    // The highest left and right levels since the last call, then forgets
    // them: what a summary of a minute needs, which no reading may miss.
    TAudioLevels TakeHighest();

private:
    static_assert(std::atomic<double>::is_always_lock_free);
    std::atomic<double> FL{0}, FR{0}, FLow{0}, FMid{0}, FHigh{0};
    std::atomic<double> FHighestL{0}, FHighestR{0};
    std::atomic<uint64_t> FBlocks{0}, FFrames{0};
};
