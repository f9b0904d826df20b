#pragma once

#include <cstdint>
#include <string>

// An open, running capture stream, whichever library delivers it. The
// transmission loop reads whole blocks from it and knows nothing else.
class TCaptureSource {
public:
    virtual ~TCaptureSource() = default;
    // Channels per captured frame, as the stream was opened.
    virtual int Channels() const = 0;
    // Blocks until AFrames interleaved 32-bit float frames are in ABuffer
    // (AFrames * Channels() samples). False with why, in the operator's
    // words ("o servidor de som foi encerrado."), when the stream is lost.
    virtual bool ReadBlock(float* ABuffer, int AFrames, std::string& AError) = 0;
    // Times audio was lost since the stream opened because it was not read
    // in time (the device's buffer overran).
    virtual uint64_t Overruns() const { return 0; }
};
