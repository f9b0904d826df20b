#pragma once

#include <string>
#include <vector>

#include "codecs/AudioEncoder.h"
#include "codecs/OggOpusApi.h"
#include "platform/DynamicLibrary.h"

// Ogg Opus on libopusenc (which brings libopus) loaded at run time: 20 ms
// frames at 48000 Hz, resampled by libopusenc from the capture rate, the
// bitrate held to 16..256 kbps. libopusenc pages the stream itself and
// hands each page to a callback that gathers the bytes of a call. Every
// Start, and every title change, begins a new logical stream (a chain)
// with a fresh serial number and TITLE in its OpusTags; the running one is
// drained to its end-of-stream page first.
class TOggOpusEncoder : public TAudioEncoder {
public:
    TOggOpusEncoder() = default;
    ~TOggOpusEncoder() override;

    bool Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
               std::string& HeaderBytes, std::string& AError) override;
    bool EncodeFloatInterleaved(const float* Pcm, int32_t Frames, std::string& EncodedBytes,
                                std::string& AError) override;
    bool Finish(std::string& EncodedBytes, std::string& AError) override;
    bool SupportsStreamTitle() const override { return true; }
    bool SetStreamTitle(const std::string& ATitleUtf8, std::string& AError) override;

    static bool IsAvailable(std::string& AError);
    static int32_t BitrateWithinRange(int32_t ABitrateKbps);

protected:
    // Library file names in search order; tests replace them.
    virtual std::vector<std::string> LibraryNames() const;
    virtual std::vector<std::string> OpusNames() const;

    bool LoadLibrary(std::string& AError);
    // A new encoder for a chain carrying FTitle; its header pages go to
    // FPending. Started on success.
    bool OpenChain(std::string& AError);
    bool Configure(std::string& AError);
    // Drains the running chain (its last pages go to FPending) and frees
    // the encoder; not started after.
    bool EndChain(std::string& AError);
    bool Failed(const char* AMessage, int ACode, std::string& AError) const;
    static int WriteCallback(void* UserData, const unsigned char* Ptr, int32_t Len);
    static int CloseCallback(void* UserData);

    TLibHandle FLib = nullptr;
    OggOpusEnc* FEncoder = nullptr;
    bool FLoaded = false;
    bool FStarted = false;
    int32_t FChannels = 0;
    int32_t FSampleRate = 0;
    int32_t FBitrateKbps = 0;
    std::vector<float> FPcm;
    std::string FPending;
    // The title asked for and the one the running chain carries; a chain
    // is never ended before it holds audio.
    std::string FTitle;
    std::string FChainTitle;
    bool FChainHasAudio = false;
    int FLastSerial = -1;
    T_ope_comments_create ope_comments_create = nullptr;
    T_ope_comments_destroy ope_comments_destroy = nullptr;
    T_ope_comments_add ope_comments_add = nullptr;
    T_ope_encoder_create_callbacks ope_encoder_create_callbacks = nullptr;
    T_ope_encoder_ctl ope_encoder_ctl = nullptr;
    T_ope_encoder_flush_header ope_encoder_flush_header = nullptr;
    T_ope_encoder_write_float ope_encoder_write_float = nullptr;
    T_ope_encoder_drain ope_encoder_drain = nullptr;
    T_ope_encoder_destroy ope_encoder_destroy = nullptr;
    T_ope_strerror ope_strerror = nullptr;
};
