#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

// The hand-over from one thread of a transmission to the next. Push never
// waits: a full queue loses its oldest item, so a stalled output costs only
// itself audio, never the capture or the other outputs. TItem has Frames,
// the audio it stands for.
template <class TItem>
class TDropQueue {
public:
    using TPtr = std::shared_ptr<const TItem>;

    explicit TDropQueue(size_t ACapacity) : FCapacity(std::max<size_t>(ACapacity, 1)) {}
    // At least one item; set before the items start to flow.
    void SetCapacity(size_t ACapacity)
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FCapacity = std::max<size_t>(ACapacity, 1);
    }

    // A no-op once closed.
    void Push(TPtr AItem)
    {
        {
            const std::lock_guard<std::mutex> guard(FLock);
            if (FClosed)
                return;
            if (FItems.size() >= FCapacity) {
                FDroppedFrames += static_cast<uint64_t>(FItems.front()->Frames);
                FItems.pop_front();
            }
            FItems.push_back(std::move(AItem));
        }
        FArrived.notify_one();
    }
    // The oldest item; waits up to ATimeoutMs for one. Null on time-out,
    // and once closed and empty.
    TPtr Pop(int ATimeoutMs)
    {
        std::unique_lock<std::mutex> guard(FLock);
        FArrived.wait_for(guard, std::chrono::milliseconds(ATimeoutMs), [this] { return !FItems.empty() || FClosed; });
        if (FItems.empty())
            return nullptr;
        TPtr item = std::move(FItems.front());
        FItems.pop_front();
        return item;
    }
    // No more items will come; waiting Pops return what is left, then null.
    // AWhy, when given, says what broke upstream (kept from the first close).
    void Close(const std::string& AWhy = {})
    {
        {
            const std::lock_guard<std::mutex> guard(FLock);
            if (!FClosed)
                FWhy = AWhy;
            FClosed = true;
        }
        FArrived.notify_all();
    }
    bool Closed() const
    {
        const std::lock_guard<std::mutex> guard(FLock);
        return FClosed;
    }
    std::string WhyClosed() const
    {
        const std::lock_guard<std::mutex> guard(FLock);
        return FWhy;
    }
    // Forgets what is queued, counting nothing as dropped.
    void Clear()
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FItems.clear();
        FDroppedFrames = 0;
    }
    // Frames dropped because the queue was full, since the last call.
    uint64_t TakeDroppedFrames()
    {
        const std::lock_guard<std::mutex> guard(FLock);
        return std::exchange(FDroppedFrames, 0);
    }
    bool Empty() const
    {
        const std::lock_guard<std::mutex> guard(FLock);
        return FItems.empty();
    }

private:
    size_t FCapacity;
    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<TPtr> FItems;
    uint64_t FDroppedFrames = 0;
    bool FClosed = false;
    std::string FWhy;
};
