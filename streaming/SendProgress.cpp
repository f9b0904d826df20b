#include "streaming/SendProgress.h"

#include <cstddef>

namespace {

// About 3 minutes of blocks; a queue this long is stalled long before.
constexpr size_t KMaxMarks = 4096;

} // namespace

void TSendProgress::Reset()
{
    FTotal = 0;
    FTaken = 0;
    FTakenTick = 0;
    FMarks.clear();
}

void TSendProgress::Sent(uint64_t ABytes, uint64_t ANowTick)
{
    if (ABytes == 0)
        return;
    if (FMarks.empty())
        FTakenTick = ANowTick; // nothing was waiting: the wait starts now
    FTotal += ABytes;
    // Past the cap the newest marks are dropped, never the oldest: it is
    // the oldest waiting byte whose age matters.
    if (FMarks.size() < KMaxMarks)
        FMarks.emplace_back(FTotal, ANowTick);
    else
        FMarks.back().first = FTotal;
}

bool TSendProgress::Stalled(uint64_t AQueued, uint64_t ANowTick, uint64_t AStallMs)
{
    const uint64_t taken = AQueued >= FTotal ? 0 : FTotal - AQueued;
    if (taken > FTaken) {
        FTaken = taken;
        FTakenTick = ANowTick;
    }
    while (!FMarks.empty() && FMarks.front().first <= taken)
        FMarks.pop_front();
    return !FMarks.empty() && ANowTick - FMarks.front().second >= AStallMs && ANowTick - FTakenTick >= AStallMs;
}
