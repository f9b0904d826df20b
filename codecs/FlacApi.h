#pragma once

#include <cstddef>
#include <cstdint>

// The entry point types of libFLAC's stream encoder (FLAC/stream_encoder.h)
// and of the metadata objects it takes (FLAC/metadata.h), declared here
// because the library is loaded at run time and its headers are not a
// build requirement. FLAC__bool is an int.

using FLAC__StreamEncoder = struct FLAC__StreamEncoderStruct;
using FLAC__StreamMetadata = struct FLAC__StreamMetadataStruct;

// One "NAME=value" comment; libFLAC allocates and frees its text.
struct FLAC__StreamMetadata_VorbisComment_Entry {
    uint32_t length;
    uint8_t* entry;
};

inline constexpr int32_t FLAC__METADATA_TYPE_VORBIS_COMMENT = 4;

// Write callback results.
inline constexpr int32_t FLAC__STREAM_ENCODER_WRITE_STATUS_OK = 0;
inline constexpr int32_t FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR = 1;
inline constexpr int32_t FLAC__STREAM_ENCODER_INIT_STATUS_OK = 0;

extern "C" {
using TFLACStreamEncoderWriteCallback = int32_t (*)(const FLAC__StreamEncoder* Encoder,
                                                    const uint8_t* Buffer, size_t Bytes,
                                                    uint32_t Samples, uint32_t CurrentFrame,
                                                    void* ClientData);

using T_FLAC__stream_encoder_new = FLAC__StreamEncoder* (*)();
using T_FLAC__stream_encoder_delete = void (*)(FLAC__StreamEncoder*);
using T_FLAC__stream_encoder_set_bool = int (*)(FLAC__StreamEncoder*, int);
using T_FLAC__stream_encoder_set_uint = int (*)(FLAC__StreamEncoder*, uint32_t);
using T_FLAC__stream_encoder_set_total_samples_estimate = int (*)(FLAC__StreamEncoder*, uint64_t);
using T_FLAC__stream_encoder_set_ogg_serial_number = int (*)(FLAC__StreamEncoder*, long);
using T_FLAC__stream_encoder_init_ogg_stream = int32_t (*)(
    FLAC__StreamEncoder*, void* ReadCallback, TFLACStreamEncoderWriteCallback WriteCallback,
    void* SeekCallback, void* TellCallback, void* MetadataCallback, void* ClientData);
using T_FLAC__stream_encoder_process_interleaved = int (*)(FLAC__StreamEncoder*, const int32_t*,
                                                           uint32_t);
using T_FLAC__stream_encoder_finish = int (*)(FLAC__StreamEncoder*);
using T_FLAC__stream_encoder_set_metadata = int (*)(FLAC__StreamEncoder*, FLAC__StreamMetadata**,
                                                    uint32_t);
using T_FLAC__metadata_object_new = FLAC__StreamMetadata* (*)(int32_t Type);
using T_FLAC__metadata_object_delete = void (*)(FLAC__StreamMetadata*);
using T_FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair = int (*)(
    FLAC__StreamMetadata_VorbisComment_Entry*, const char* Name, const char* Value);
using T_FLAC__metadata_object_vorbiscomment_append_comment = int (*)(
    FLAC__StreamMetadata*, FLAC__StreamMetadata_VorbisComment_Entry, int Copy);
}
