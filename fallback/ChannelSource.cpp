#include "fallback/ChannelSource.h"

TChannelSource::TChannelSource(std::unique_ptr<TCaptureSource> ACapture, int AFramesPerBlock)
    : FCapture(std::move(ACapture)), FFramesPerBlock(AFramesPerBlock)
{
}

void TChannelSource::Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop)
{
    if (AStop.load())
        return;
    const size_t start = AOut.size();
    AOut.resize(start + static_cast<size_t>(FFramesPerBlock) * static_cast<size_t>(FCapture->Channels()));
    std::string why;
    if (!FCapture->ReadBlock(AOut.data() + start, FFramesPerBlock, why))
        AOut.resize(start);
}
