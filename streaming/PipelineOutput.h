#pragma once

#include <atomic>
#include <string>

#include "streaming/EncodedChunk.h"
#include "streaming/StageThread.h"

// One output of a transmission: takes the encoded blocks from its queue
// on a thread of its own. The encode stage only feeds it.
class TPipelineOutput : public TStageThread {
public:
    explicit TPipelineOutput(size_t ACapacityBlocks) : FQueue(ACapacityBlocks) {}

    // Never waits (see TDropQueue).
    void Deliver(TEncodedChunkPtr AChunk) { FQueue.Push(std::move(AChunk)); }
    // The encode has ended: the output takes what is queued, then ends.
    // AWhy, when given, is why the encode broke.
    void EndOfStream(const std::string& AWhy = {}) { FQueue.Close(AWhy); }
    // Ends the output as soon as it can, dropping what is queued.
    virtual void Stop();
    // Still takes chunks: neither ended nor stopped.
    bool Taking() const { return !FQueue.Closed(); }

protected:
    void Finished() override { FQueue.Close(); }
    bool Stopping() const { return FStop.load(); }
    // Why the encode broke, once the queue is closed; empty when it ended
    // as it should.
    std::string StreamFailure() const { return FQueue.WhyClosed(); }

    TChunkQueue FQueue;

private:
    std::atomic<bool> FStop{false};
};
