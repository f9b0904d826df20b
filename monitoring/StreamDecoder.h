#pragma once

#include <string>

#include "settings/CodecIds.h"

// What a few seconds of a stream hold, as a listener's player would decode
// them.
struct TDecodedSample {
    // Seconds of audio that decoded; 0 with Error when nothing did.
    double Seconds = 0;
    // Highest absolute sample, 0 to 1.
    float Peak = 0;
    // The title carried inside an Ogg stream (its comment header), last seen.
    std::string Title;
    std::string Error;
};

// Whether this machine can decode AKind's streams; AWhy says why not.
bool CanDecode(TCodecKind AKind, std::string& AWhy);

// ABytes: the stream's audio bytes from wherever a listener joined it (no
// ICY metadata in between).
TDecodedSample DecodeStreamSample(TCodecKind AKind, const std::string& ABytes);
