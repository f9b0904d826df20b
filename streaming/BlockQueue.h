#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "streaming/AudioBlock.h"

// The hand-over from the capture thread to one output. Push never waits:
// a full queue loses its oldest block, so a stalled output costs only
// itself audio, never the capture or the other outputs.
class TBlockQueue {
public:
    explicit TBlockQueue(size_t ACapacityBlocks);
    // At least one block; set before the blocks start to flow.
    void SetCapacity(size_t ABlocks);

    // A no-op once closed.
    void Push(TAudioBlockPtr ABlock);
    // The oldest block; waits up to ATimeoutMs for one. Null on time-out,
    // and once closed and empty.
    TAudioBlockPtr Pop(int ATimeoutMs);
    // No more blocks will come; waiting Pops return what is left, then null.
    void Close();
    bool Closed() const;
    // Forgets what is queued, counting nothing as dropped.
    void Clear();
    // Frames dropped because the queue was full, since the last call.
    uint64_t TakeDroppedFrames();
    bool Empty() const;

private:
    size_t FCapacity;
    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<TAudioBlockPtr> FBlocks;
    uint64_t FDroppedFrames = 0;
    bool FClosed = false;
};
