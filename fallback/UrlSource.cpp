#include "fallback/UrlSource.h"

#include <algorithm>

#include "platform/Text.h"

namespace {

constexpr int KReadTimeoutSeconds = 10;

} // namespace

TUrlSource::TUrlSource(const std::string& AUrl, int32_t ASampleRate, int AChannels, const std::atomic<bool>& AStop,
                       TFallbackNotice ANotice)
    : FUrl(AUrl), FDecoder(ASampleRate, AChannels, AStop), FNotice(std::move(ANotice))
{
}

void TUrlSource::Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop)
{
    std::string why;
    if (!FOpen) {
        if (FFailures > 0)
            SleepUnlessStopped(1000 << std::min(FFailures - 1, 3), AStop);
        if (AStop.load())
            return;
        FOpen = FDecoder.Open(FUrl, KReadTimeoutSeconds, why);
    }
    if (FOpen && FDecoder.Decode(AOut, why)) {
        if (FFailures > 0)
            FNotice("Fluxo da reserva de volta: " + ShownUrl(FUrl) + ".");
        FFailures = 0;
        return;
    }
    FOpen = false;
    if (AStop.load())
        return;
    if (FFailures++ == 0)
        FNotice("Fluxo da reserva perdido: " + ShownUrl(FUrl) + " (" + (why.empty() ? "o fluxo terminou" : why) +
                "). Tentando de novo...");
}
