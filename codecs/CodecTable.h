#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codecs/AudioEncoder.h"
#include "settings/CodecIds.h"

// Block size of the capture reads unless the encoder fixes its own.
inline constexpr int32_t KDefaultFramesPerBlock = 2048;

// One row of the codec table the transmission loop selects by identifier.
struct TCodecRow {
    TCodecKind Kind;
    const char* ContentType;       // announced to the server
    bool SendsHeaderBytes;         // header bytes go out after each login
    bool AllowedOnShoutcast;
    bool UsesEncoderFrameLength;   // blocks of the encoder's FrameLength
};

// The row of an identifier, compared ignoring ASCII case; nullptr when no
// row matches.
const TCodecRow* FindCodecRow(const std::string& ACodec);

// A new, unstarted encoder for the row; nullptr for MP3, which the
// transmission loop drives through LAME itself (codecs/Lame.h).
std::unique_ptr<TAudioEncoder> CreateEncoder(const TCodecRow& ARow);

// Frames per capture read: the encoder's FrameLength when the row uses it
// and it is positive, else the default block. AEncoder may be nullptr.
int32_t FramesPerBlock(const TCodecRow& ARow, const TAudioEncoder* AEncoder);
