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

    // True for codecs that carry the title inside the stream (the Ogg
    // ones): the server reads it from each new chain's comment header.
    virtual bool SupportsStreamTitle() const { return false; }
    // The title (UTF-8; empty: no TITLE tag) of the chain to come. Before
    // Start it only sets what the first chain's comment header will carry,
    // so Start's HeaderBytes hold it; the title stays for later Starts.
    // On a started stream a title other than the running chain's makes the
    // next EncodeFloatInterleaved with frames to encode hand back, in
    // order: the last pages of the running chain up to its end-of-stream
    // page, the header pages of a new chain (new serial number, granule
    // positions from 0, TITLE in its comment header), then that call's
    // audio in the new chain. A chain never ends empty: while the running
    // one holds no audio yet, that call's audio goes into it and the change
    // comes with the call after. This call gives no bytes, and Start's
    // HeaderBytes stay those of the first chain: a new login needs a new
    // Start. False, with the stream left as it was, for a codec without
    // stream titles or a title that is not UTF-8 or holds a NUL.
    virtual bool SetStreamTitle(const std::string& /*ATitleUtf8*/, std::string& AError)
    {
        AError = "Este codec nao leva o titulo dentro do fluxo.";
        return false;
    }
};
