#include "engine/LevelMailbox.h"

namespace {

void RaiseTo(std::atomic<double>& AHighest, double AValue)
{
    double seen = AHighest.load(std::memory_order_relaxed);
    while (AValue > seen && !AHighest.compare_exchange_weak(seen, AValue, std::memory_order_relaxed)) {
    }
}

} // namespace

void TLevelMailbox::Post(const TAudioLevels& ALevels, int AFrames)
{
    FL.store(ALevels.L, std::memory_order_relaxed);
    FR.store(ALevels.R, std::memory_order_relaxed);
    FLow.store(ALevels.LowBand, std::memory_order_relaxed);
    FMid.store(ALevels.MidBand, std::memory_order_relaxed);
    FHigh.store(ALevels.HighBand, std::memory_order_relaxed);
    RaiseTo(FHighestL, ALevels.L);
    RaiseTo(FHighestR, ALevels.R);
    FFrames.fetch_add(AFrames > 0 ? static_cast<uint64_t>(AFrames) : 0, std::memory_order_relaxed);
    // Released last: a reader that sees this block's count sees its levels.
    FBlocks.fetch_add(1, std::memory_order_release);
}

TLevelReading TLevelMailbox::Latest() const
{
    TLevelReading r;
    r.Blocks = FBlocks.load(std::memory_order_acquire);
    r.Levels = {FL.load(std::memory_order_relaxed), FR.load(std::memory_order_relaxed),
                FLow.load(std::memory_order_relaxed), FMid.load(std::memory_order_relaxed),
                FHigh.load(std::memory_order_relaxed)};
    r.Frames = FFrames.load(std::memory_order_relaxed);
    return r;
}

TAudioLevels TLevelMailbox::TakeHighest()
{
    TAudioLevels highest;
    highest.L = FHighestL.exchange(0, std::memory_order_relaxed);
    highest.R = FHighestR.exchange(0, std::memory_order_relaxed);
    return highest;
}
