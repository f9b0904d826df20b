#pragma once

#include <cstdint>
#include <string>

// The contract every run-time-loaded codec keeps. Byte arrays and the
// error text belong to the caller; each call empties the ones it is given
// first. AError is filled only when a call returns false. An instance is
// used by one thread only; destroying it finishes a started stream and
// frees the codec libraries.
class TAudioEncoder {
public:
    TAudioEncoder() = default;
    virtual ~TAudioEncoder() = default;
    // An instance owns library handles and codec state: never copied.
    TAudioEncoder(const TAudioEncoder&) = delete;
    TAudioEncoder& operator=(const TAudioEncoder&) = delete;

    // Loads the library on first use, settles the parameters (channels
    // 1..2, rate at least 8000), opens the codec and hands back the stream
    // header bytes (empty when the codec has none).
    virtual bool Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
                       std::string& HeaderBytes, std::string& AError) = 0;
    // Pcm holds Frames * channels interleaved floats, full scale +-1.0.
    // EncodedBytes receives every byte the codec completed during the call.
    virtual bool EncodeFloatInterleaved(const float* Pcm, int32_t Frames,
                                        std::string& EncodedBytes, std::string& AError) = 0;
    // Ends the stream; true with no bytes when not started.
    virtual bool Finish(std::string& EncodedBytes, std::string& AError) = 0;
    // Input frames per codec frame when the codec fixes the block size
    // (valid after Start); 0 when it leaves the block size to the caller.
    virtual int32_t FrameLength() const { return 0; }
};
