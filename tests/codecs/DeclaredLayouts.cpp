#include "codecs/FlacApi.h"
#include "codecs/OggVorbisApi.h"

#include "LibraryLayouts.h"

std::map<std::string, size_t> DeclaredLayouts()
{
    std::map<std::string, size_t> m;
#define X(T, F)                       \
    m[#T] = sizeof(T);                \
    m[#T "." #F] = offsetof(T, F);
#include "OggVorbisLayoutFields.inc"
#undef X
    m["FLAC__STREAM_ENCODER_WRITE_STATUS_OK"] = FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    m["FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR"] = FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    m["FLAC__STREAM_ENCODER_INIT_STATUS_OK"] = FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    return m;
}
