#pragma once

#include <memory>

#include "capture/CaptureSource.h"
#include "fallback/FallbackSource.h"

// A second capture channel, read block by block; it heals itself (see
// THealingCapture), so it always delivers at the clock's pace.
class TChannelSource : public TFallbackSource {
public:
    TChannelSource(std::unique_ptr<TCaptureSource> ACapture, int AFramesPerBlock);

    void Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop) override;
    bool Live() const override { return true; }

private:
    std::unique_ptr<TCaptureSource> FCapture;
    int FFramesPerBlock;
};
