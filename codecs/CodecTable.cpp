#include "codecs/CodecTable.h"

#include "codecs/FdkAac.h"
#include "codecs/Flac.h"
#include "codecs/Mp3Encoder.h"
#include "codecs/OggOpus.h"
#include "codecs/OggVorbis.h"

namespace {

const TCodecRow KCodecRows[] = {
    {TCodecKind::Mp3, "audio/mpeg", false, true},
    {TCodecKind::OggVorbis, "audio/ogg", true, false},
    {TCodecKind::AacPlus, "audio/aac", false, true},
    {TCodecKind::OggFlac, "application/ogg", true, false},
    {TCodecKind::OggOpus, "audio/ogg", true, false},
};

} // namespace

const TCodecRow* FindCodecRow(const std::string& ACodec)
{
    const TCodecKind kind = CodecKindFromId(ACodec);
    for (const auto& row : KCodecRows)
        if (row.Kind == kind)
            return &row;
    return nullptr;
}

std::unique_ptr<TAudioEncoder> CreateEncoder(const TCodecRow& ARow, int32_t AMp3Quality)
{
    switch (ARow.Kind) {
    case TCodecKind::Mp3:
        return std::make_unique<TMp3Encoder>(AMp3Quality);
    case TCodecKind::OggVorbis:
        return std::make_unique<TOggVorbisEncoder>();
    case TCodecKind::AacPlus:
        return std::make_unique<TFdkAacPlusEncoder>();
    case TCodecKind::OggFlac:
        return std::make_unique<TFlacEncoder>();
    case TCodecKind::OggOpus:
        return std::make_unique<TOggOpusEncoder>();
    default:
        return nullptr;
    }
}
