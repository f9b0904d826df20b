#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "streaming/AudioBlock.h"
#include "streaming/DropQueue.h"

// One block's audio as the encoder made it, shared read-only between the
// outputs that carry the same encode (a server and the recording).
struct TEncodedChunk {
    // The end of the stream that ran before this block, when a new one
    // begins here or the encode ended (then the chunk holds nothing else).
    std::string Tail;
    // The block's bytes; a new stream's header comes first in them.
    std::string Bytes;
    // An output may start with this chunk: a new stream begins here, or
    // the codec has no stream header, so any chunk will do.
    bool Joinable = false;
    int32_t Frames = 0;
    // Wall-clock time of the block's first frame.
    TWallTime Start;
};
using TEncodedChunkPtr = std::shared_ptr<const TEncodedChunk>;
using TChunkQueue = TDropQueue<TEncodedChunk>;

// Where one output stands in the shared encode: in it, each chunk's bytes
// following the last, or out of it (a new login, a new file, chunks
// dropped), waiting for a chunk it may start with.
class TStreamPlace {
public:
    // What the output writes for AChunk; false (nothing) while it waits.
    bool Take(const TEncodedChunk& AChunk, std::string& ABytes)
    {
        if (!FIn && !AChunk.Joinable)
            return false;
        ABytes = FIn ? AChunk.Tail + AChunk.Bytes : AChunk.Bytes;
        FIn = true;
        return true;
    }
    void Leave() { FIn = false; }
    bool In() const { return FIn; }

private:
    bool FIn = false;
};
