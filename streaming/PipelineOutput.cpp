#include "streaming/PipelineOutput.h"

#include <exception>

TPipelineOutput::TPipelineOutput(size_t ACapacityBlocks) : FQueue(ACapacityBlocks) {}

TPipelineOutput::~TPipelineOutput()
{
    Join();
}

void TPipelineOutput::StartThread()
{
    if (FThread.joinable())
        return;
    FThread = std::thread([this] {
        // An escaped exception would end the program; the output just ends.
        try {
            Run();
        } catch (const std::exception& e) {
            Failed(e.what());
        } catch (...) {
            Failed("?");
        }
        FQueue.Close();
        FEnded.store(true);
    });
}

void TPipelineOutput::Stop()
{
    FStop.store(true);
    FQueue.Close();
}

void TPipelineOutput::Join()
{
    if (FThread.joinable())
        FThread.join();
}

const float* TPipelineOutput::SamplesIn(const TAudioBlock& ABlock, int AChannels)
{
    if (AChannels == ABlock.Channels)
        return ABlock.Samples.data();
    const auto frames = static_cast<size_t>(ABlock.Frames);
    FConverted.resize(frames * static_cast<size_t>(AChannels));
    const float* in = ABlock.Samples.data();
    for (size_t i = 0; i < frames; ++i) {
        if (AChannels == 1)
            FConverted[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
        else
            FConverted[2 * i] = FConverted[2 * i + 1] = in[i];
    }
    return FConverted.data();
}
