#include "streaming/BlockQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

TBlockQueue::TBlockQueue(size_t ACapacityBlocks) : FCapacity(std::max<size_t>(ACapacityBlocks, 1)) {}

void TBlockQueue::SetCapacity(size_t ABlocks)
{
    const std::lock_guard<std::mutex> guard(FLock);
    FCapacity = std::max<size_t>(ABlocks, 1);
}

void TBlockQueue::Push(TAudioBlockPtr ABlock)
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        if (FClosed)
            return;
        if (FBlocks.size() >= FCapacity) {
            FDroppedFrames += static_cast<uint64_t>(FBlocks.front()->Frames);
            FBlocks.pop_front();
        }
        FBlocks.push_back(std::move(ABlock));
    }
    FArrived.notify_one();
}

TAudioBlockPtr TBlockQueue::Pop(int ATimeoutMs)
{
    std::unique_lock<std::mutex> guard(FLock);
    FArrived.wait_for(guard, std::chrono::milliseconds(ATimeoutMs), [this] { return !FBlocks.empty() || FClosed; });
    if (FBlocks.empty())
        return nullptr;
    TAudioBlockPtr block = std::move(FBlocks.front());
    FBlocks.pop_front();
    return block;
}

void TBlockQueue::Close()
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FClosed = true;
    }
    FArrived.notify_all();
}

bool TBlockQueue::Closed() const
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FClosed;
}

void TBlockQueue::Clear()
{
    const std::lock_guard<std::mutex> guard(FLock);
    FBlocks.clear();
    FDroppedFrames = 0;
}

uint64_t TBlockQueue::TakeDroppedFrames()
{
    const std::lock_guard<std::mutex> guard(FLock);
    return std::exchange(FDroppedFrames, 0);
}

bool TBlockQueue::Empty() const
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FBlocks.empty();
}
