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
