#include "fallback/FallbackProgramme.h"
#include "platform/Thread.h"

#include <algorithm>
#include <vector>

TFallbackProgramme::TFallbackProgramme(TSourceMaker AMakeSource, int32_t ASampleRate, int AChannels)
    : FChannels(AChannels), FAheadSamples(static_cast<size_t>(ASampleRate) * static_cast<size_t>(AChannels))
{
    FThread = std::thread([this, make = std::move(AMakeSource)]() mutable { Run(std::move(make)); });
}

TFallbackProgramme::~TFallbackProgramme()
{
    FStop.store(true);
    FRoom.notify_all();
    FThread.join();
}

void TFallbackProgramme::Run(TSourceMaker AMakeSource)
{
    NameThisThread("fallback");
    const std::unique_ptr<TFallbackSource> source = AMakeSource(FStop);
    if (!source)
        return;
    std::vector<float> made;
    while (!FStop.load()) {
        made.clear();
        source->Produce(made, FStop);
        std::unique_lock<std::mutex> lock(FLock);
        FReady.insert(FReady.end(), made.begin(), made.end());
        if (source->Live()) {
            if (FReady.size() > FAheadSamples)
                FReady.erase(FReady.begin(), FReady.begin() + static_cast<std::ptrdiff_t>(FReady.size() - FAheadSamples));
            continue;
        }
        FRoom.wait(lock, [this] { return FStop.load() || FReady.size() < FAheadSamples; });
    }
}

void TFallbackProgramme::Read(float* AOut, int AFrames)
{
    const size_t wanted = static_cast<size_t>(std::max(AFrames, 0)) * static_cast<size_t>(FChannels);
    size_t taken = 0;
    {
        const std::lock_guard<std::mutex> guard(FLock);
        // Whole frames only, so the channels never swap.
        taken = std::min(wanted, FReady.size() - FReady.size() % static_cast<size_t>(FChannels));
        std::copy_n(FReady.begin(), taken, AOut);
        FReady.erase(FReady.begin(), FReady.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    FRoom.notify_one();
    std::fill(AOut + taken, AOut + wanted, 0.0f);
}
