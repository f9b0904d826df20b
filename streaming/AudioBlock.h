#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "streaming/DropQueue.h"

using TWallTime = std::chrono::system_clock::time_point;

// One processed block as every output receives it: interleaved floats of
// the transmission's channel count, shared read-only between the outputs.
struct TAudioBlock {
    std::vector<float> Samples;
    int32_t Frames = 0;
    int Channels = 2;
    // Wall-clock time of the block's first frame.
    TWallTime Start;
};
using TAudioBlockPtr = std::shared_ptr<const TAudioBlock>;
using TBlockQueue = TDropQueue<TAudioBlock>;
