#pragma once

#include <cstdint>

// The records, constants and entry point types of libopusenc (opusenc.h)
// and the few libopus encoder requests it passes on (opus_defines.h),
// declared here because the library is loaded at run time and its headers
// are not a build requirement.

using OggOpusEnc = struct OggOpusEncStruct;
using OggOpusComments = struct OggOpusCommentsStruct;

extern "C" {
// Both answer 0 on success.
using TOpeWriteFunc = int (*)(void* UserData, const unsigned char* Ptr, int32_t Len);
using TOpeCloseFunc = int (*)(void* UserData);
}

struct OpusEncCallbacks {
    TOpeWriteFunc write;
    TOpeCloseFunc close;
};

inline constexpr int OPE_OK = 0;
inline constexpr int OPE_SET_DECISION_DELAY_REQUEST = 14000;
inline constexpr int OPE_SET_MUXING_DELAY_REQUEST = 14002;
inline constexpr int OPE_SET_SERIALNO_REQUEST = 14006;
inline constexpr int OPUS_OK = 0;
inline constexpr int OPUS_SET_BITRATE_REQUEST = 4002;
inline constexpr int OPUS_SET_EXPERT_FRAME_DURATION_REQUEST = 4040;
inline constexpr int OPUS_FRAMESIZE_20_MS = 5004;

extern "C" {
using T_ope_comments_create = OggOpusComments* (*)();
using T_ope_comments_destroy = void (*)(OggOpusComments*);
using T_ope_comments_add = int (*)(OggOpusComments*, const char* Tag, const char* Value);
using T_ope_encoder_create_callbacks = OggOpusEnc* (*)(const OpusEncCallbacks*, void* UserData,
                                                       OggOpusComments*, int32_t Rate,
                                                       int Channels, int Family, int* Error);
// Each request takes one int32 value.
using T_ope_encoder_ctl = int (*)(OggOpusEnc*, int Request, ...);
using T_ope_encoder_flush_header = int (*)(OggOpusEnc*);
using T_ope_encoder_write_float = int (*)(OggOpusEnc*, const float* Pcm, int SamplesPerChannel);
using T_ope_encoder_drain = int (*)(OggOpusEnc*);
using T_ope_encoder_destroy = void (*)(OggOpusEnc*);
using T_ope_strerror = const char* (*)(int);
}
