#include "settings/CodecIds.h"

#include "platform/Text.h"

TCodecKind CodecKindFromId(const std::string& ACodec)
{
    const std::string c = AsciiLower(ACodec);
    if (c == "audio/mpeg")
        return TCodecKind::Mp3;
    if (c == "audio/ogg" || c == "application/ogg")
        return TCodecKind::OggVorbis;
    if (c == "audio/aacp" || c == "audio/aac" || c == "audio/x-aac")
        return TCodecKind::AacPlus;
    if (c == "audio/flac" || c == "application/flac")
        return TCodecKind::OggFlac;
    if (c == "audio/opus" || c == "audio/ogg; codecs=opus")
        return TCodecKind::OggOpus;
    return TCodecKind::None;
}

bool IsShoutcastServer(const std::string& AServerType)
{
    return AsciiLower(AServerType) == "shoutcast";
}
