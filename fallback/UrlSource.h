#pragma once

#include <string>

#include "fallback/FallbackSource.h"
#include "fallback/MediaDecoder.h"

// Another station's stream, read as a listener reads it and connected
// again, after 1, 2, 4 and then every 8 s, whenever it drops.
class TUrlSource : public TFallbackSource {
public:
    TUrlSource(const std::string& AUrl, int32_t ASampleRate, int AChannels, const std::atomic<bool>& AStop,
               TFallbackNotice ANotice);

    void Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop) override;
    bool Live() const override { return true; }

private:
    std::string FUrl;
    TMediaDecoder FDecoder;
    TFallbackNotice FNotice;
    bool FOpen = false;
    // Failed attempts in a row; the outage is told once.
    int FFailures = 0;
};
