#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codecs/AudioEncoder.h"
#include "settings/CodecIds.h"

// Frames of every capture read and processed block. Each encoder takes
// blocks of any length; this one is also HE-AAC's own frame.
inline constexpr int32_t KDefaultFramesPerBlock = 2048;

// One row of the codec table the transmission loop selects by identifier.
struct TCodecRow {
    TCodecKind Kind;
    const char* ContentType;       // announced to the server
    bool SendsHeaderBytes;         // header bytes go out after each login
    bool AllowedOnShoutcast;
};

// The row of an identifier, compared ignoring ASCII case; nullptr when no
// row matches.
const TCodecRow* FindCodecRow(const std::string& ACodec);

// A new, unstarted encoder for the row; nullptr for a kind of no row.
// AMp3Quality: LAME's quality, for MP3 only.
std::unique_ptr<TAudioEncoder> CreateEncoder(const TCodecRow& ARow, int32_t AMp3Quality = KDefaultMp3Quality);
