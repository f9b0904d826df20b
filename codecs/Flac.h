#pragma once

#include <string>
#include <vector>

#include "codecs/AudioEncoder.h"
#include "codecs/FlacApi.h"
#include "platform/DynamicLibrary.h"

// Lossless Ogg FLAC, 16 bits per sample, on libFLAC (built with Ogg)
// loaded at run time. libFLAC's write callback gathers the bytes each call
// caused; the bitrate is ignored. A title change finishes the running FLAC
// stream and starts another, a chain whose VORBIS_COMMENT block holds
// TITLE. That takes libFLAC's metadata functions and its serial number
// setting (two chains in a row must differ in serial), all optional: a
// library without them streams without titles.
class TFlacEncoder : public TAudioEncoder {
public:
    TFlacEncoder() = default;
    ~TFlacEncoder() override;

    bool Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
               std::string& HeaderBytes, std::string& AError) override;
    bool EncodeFloatInterleaved(const float* Pcm, int32_t Frames, std::string& EncodedBytes,
                                std::string& AError) override;
    bool Finish(std::string& EncodedBytes, std::string& AError) override;
    bool SupportsStreamTitle() const override { return true; }
    bool SetStreamTitle(const std::string& ATitleUtf8, std::string& AError) override;

    static bool IsAvailable(std::string& AError);

protected:
    virtual std::vector<std::string> LibraryNames() const;

    bool LoadLibrary(std::string& AError);
    bool CarriesTitles() const;
    // A new stream encoder for a chain carrying FTitle; its header pages
    // go to FPending. Started on success.
    bool OpenChain(std::string& AError);
    bool AttachTitle(std::string& AError);
    // Finishes a started stream encoder (its last frames and end-of-stream
    // page go to FPending), then frees it; not started after.
    bool EndChain();
    // Frees the stream encoder, then the comment block it referred to.
    void DeleteEncoder();
    static int32_t WriteCallback(const FLAC__StreamEncoder* Encoder, const uint8_t* Buffer,
                                 size_t Bytes, uint32_t Samples, uint32_t CurrentFrame,
                                 void* ClientData);

    TLibHandle FLib = nullptr;
    FLAC__StreamEncoder* FEncoder = nullptr;
    // The running chain's comment block; it must outlive the encoder's use.
    FLAC__StreamMetadata* FComment = nullptr;
    bool FLoaded = false;
    bool FStarted = false;
    int32_t FChannels = 2;
    int32_t FSampleRate = 44100;
    std::vector<int32_t> FPcm32;
    std::string FPending;
    // The title asked for and the one the running chain carries; a chain
    // is never ended before it holds audio.
    std::string FTitle;
    std::string FChainTitle;
    bool FChainHasAudio = false;
    uint32_t FLastSerial = 0x80000000u;   // no serial has the top bit
    T_FLAC__stream_encoder_new FLAC__stream_encoder_new = nullptr;
    T_FLAC__stream_encoder_delete FLAC__stream_encoder_delete = nullptr;
    T_FLAC__stream_encoder_set_bool FLAC__stream_encoder_set_verify = nullptr;
    T_FLAC__stream_encoder_set_bool FLAC__stream_encoder_set_streamable_subset = nullptr;
    T_FLAC__stream_encoder_set_uint FLAC__stream_encoder_set_channels = nullptr;
    T_FLAC__stream_encoder_set_uint FLAC__stream_encoder_set_bits_per_sample = nullptr;
    T_FLAC__stream_encoder_set_uint FLAC__stream_encoder_set_sample_rate = nullptr;
    T_FLAC__stream_encoder_set_uint FLAC__stream_encoder_set_compression_level = nullptr;
    T_FLAC__stream_encoder_set_total_samples_estimate FLAC__stream_encoder_set_total_samples_estimate =
        nullptr;
    T_FLAC__stream_encoder_set_ogg_serial_number FLAC__stream_encoder_set_ogg_serial_number = nullptr;
    T_FLAC__stream_encoder_set_bool FLAC__stream_encoder_set_limit_min_bitrate = nullptr;
    T_FLAC__stream_encoder_init_ogg_stream FLAC__stream_encoder_init_ogg_stream = nullptr;
    T_FLAC__stream_encoder_process_interleaved FLAC__stream_encoder_process_interleaved = nullptr;
    T_FLAC__stream_encoder_finish FLAC__stream_encoder_finish = nullptr;
    T_FLAC__stream_encoder_set_metadata FLAC__stream_encoder_set_metadata = nullptr;
    T_FLAC__metadata_object_new FLAC__metadata_object_new = nullptr;
    T_FLAC__metadata_object_delete FLAC__metadata_object_delete = nullptr;
    T_FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair
        FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair = nullptr;
    T_FLAC__metadata_object_vorbiscomment_append_comment
        FLAC__metadata_object_vorbiscomment_append_comment = nullptr;
};
