#pragma once

#include <atomic>
#include <cstdint>

// When the programme last went quiet, as the capture thread saw it, for the
// listener checks on other threads: a silent stream is only wrong while
// the programme itself is sound.
class TProgrammeLevel {
public:
    // ATick: the monotonic milliseconds of the block.
    void Note(bool ASound, uint64_t ATick)
    {
        if (!ASound)
            FLastQuietTick.store(ATick);
        else if (FSoundSinceTick.load() == 0 || FLastQuietTick.load() >= FSoundSinceTick.load())
            FSoundSinceTick.store(ATick);
    }
    // The programme has been sound, without a quiet block, since ATick.
    bool SoundSince(uint64_t ATick) const
    {
        const uint64_t since = FSoundSinceTick.load();
        return since != 0 && since <= ATick && FLastQuietTick.load() < since;
    }

private:
    std::atomic<uint64_t> FLastQuietTick{0};
    std::atomic<uint64_t> FSoundSinceTick{0};
};
