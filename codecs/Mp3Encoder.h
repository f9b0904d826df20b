#pragma once

#include <vector>

#include "codecs/AudioEncoder.h"
#include "codecs/Lame.h"

// LAME behind the common encoder contract, so every output drives all
// codecs the same way. No stream header; blocks of any length.
class TMp3Encoder : public TAudioEncoder {
public:
    explicit TMp3Encoder(int32_t AQuality = KDefaultMp3Quality) : FQuality(AQuality) {}
    ~TMp3Encoder() override;
    bool Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps, std::string& HeaderBytes,
               std::string& AError) override;
    bool EncodeFloatInterleaved(const float* Pcm, int32_t Frames, std::string& EncodedBytes,
                                std::string& AError) override;
    bool Finish(std::string& EncodedBytes, std::string& AError) override;

private:
    void Close();

    const int32_t FQuality;
    lame_global_flags* FLame = nullptr;
    std::vector<unsigned char> FBuffer;
};
