#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "streaming/BlockQueue.h"

// One output of a transmission: a thread of its own that takes the
// processed blocks from its queue. The capture thread only feeds it.
class TPipelineOutput {
public:
    explicit TPipelineOutput(size_t ACapacityBlocks);
    // A derived class calls Join in its destructor: Run uses its members.
    virtual ~TPipelineOutput();
    TPipelineOutput(const TPipelineOutput&) = delete;
    TPipelineOutput& operator=(const TPipelineOutput&) = delete;

    void StartThread();
    // Never waits (see TBlockQueue).
    void Feed(TAudioBlockPtr ABlock) { FQueue.Push(std::move(ABlock)); }
    // The capture has ended: the output takes what is queued, then ends.
    void EndOfAudio() { FQueue.Close(); }
    // Ends the output as soon as it can, dropping what is queued.
    virtual void Stop();
    void Join();
    // Its thread has returned (or never ran Run to the end).
    bool Ended() const { return FEnded.load(); }

protected:
    virtual void Run() = 0;
    // Run ended by an exception; says why to the operator.
    virtual void Failed(const std::string& AWhat) = 0;
    bool Stopping() const { return FStop.load(); }
    // ABlock's samples in AChannels (1 or 2): an output of another channel
    // count than the pipeline's mixes down as the processing would, or
    // doubles mono.
    const float* SamplesIn(const TAudioBlock& ABlock, int AChannels);

    TBlockQueue FQueue;

private:
    std::vector<float> FConverted;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FEnded{false};
};
