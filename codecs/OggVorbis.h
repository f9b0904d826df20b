#pragma once

#include <string>
#include <vector>

#include "codecs/AudioEncoder.h"
#include "codecs/OggVorbisApi.h"
#include "platform/DynamicLibrary.h"

// Ogg Vorbis in quality (VBR) mode on libogg, libvorbis and libvorbisenc
// loaded at run time. Every Start, and every title change, begins a new
// logical stream (a chain) with a fresh serial number. Start on a started
// instance ends the running stream first (its last bytes are dropped).
class TOggVorbisEncoder : public TAudioEncoder {
public:
    TOggVorbisEncoder() = default;
    ~TOggVorbisEncoder() override;

    bool Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
               std::string& HeaderBytes, std::string& AError) override;
    bool EncodeFloatInterleaved(const float* Pcm, int32_t Frames, std::string& EncodedBytes,
                                std::string& AError) override;
    bool Finish(std::string& EncodedBytes, std::string& AError) override;
    bool SupportsStreamTitle() const override { return true; }
    bool SetStreamTitle(const std::string& ATitleUtf8, std::string& AError) override;

    // Loads and resolves the libraries in a temporary instance.
    static bool IsAvailable(std::string& AError);
    // The library quality for a bitrate: 0.0 up to 64 kbps, 0.65 from 231.
    static float QualityFromBitrate(int32_t ABitrateKbps);

protected:
    // Library file names in search order; tests replace them.
    virtual std::vector<std::string> OggNames() const;
    virtual std::vector<std::string> VorbisNames() const;
    virtual std::vector<std::string> VorbisEncNames() const;

    // The codec state Start has initialised so far, in creation order.
    enum TSetupStage { ssInfo, ssComment, ssAnalysis, ssBlock, ssStream };

    bool LoadLibraries(std::string& AError);
    // Clears what was initialised up to AReached, newest first.
    void ReleaseSetup(TSetupStage AReached);
    bool FailSetup(TSetupStage AReached, const char* AMessage, std::string& AError);
    // Sets up the codec for a new chain carrying FTitle and gives its
    // header pages; started on success.
    bool OpenChain(std::string& AHeader, std::string& AError);
    // Flushes the pending audio and the end-of-stream page of the running
    // chain onto AOut and releases its codec state; not started after.
    bool EndChain(std::string& AOut, std::string& AError);
    void Drain(std::string& AOut, bool AFlush);
    static void AppendPage(std::string& AOut, const ogg_page& APage);

    TLibHandle FOggLib = nullptr;
    TLibHandle FVorbisLib = nullptr;
    TLibHandle FVorbisEncLib = nullptr;
    bool FLoaded = false;
    bool FStarted = false;
    int32_t FChannels = 0;
    int32_t FSampleRate = 0;
    float FQuality = 0.0f;
    // The title asked for and the one the running chain carries; a chain
    // is never ended before it holds audio.
    std::string FTitle;
    std::string FChainTitle;
    bool FChainHasAudio = false;
    // Two chains in a row never share a serial number.
    int FLastSerial = -1;
    T_ogg_stream_init ogg_stream_init = nullptr;
    T_ogg_stream_packetin ogg_stream_packetin = nullptr;
    T_ogg_stream_pageout ogg_stream_pageout = nullptr;
    T_ogg_stream_flush ogg_stream_flush = nullptr;
    T_ogg_stream_clear ogg_stream_clear = nullptr;
    T_vorbis_info_init vorbis_info_init = nullptr;
    T_vorbis_info_clear vorbis_info_clear = nullptr;
    T_vorbis_comment_init vorbis_comment_init = nullptr;
    T_vorbis_comment_add_tag vorbis_comment_add_tag = nullptr;
    T_vorbis_comment_clear vorbis_comment_clear = nullptr;
    T_vorbis_encode_init_vbr vorbis_encode_init_vbr = nullptr;
    T_vorbis_analysis_init vorbis_analysis_init = nullptr;
    T_vorbis_analysis_headerout vorbis_analysis_headerout = nullptr;
    T_vorbis_block_init vorbis_block_init = nullptr;
    T_vorbis_analysis_buffer vorbis_analysis_buffer = nullptr;
    T_vorbis_analysis_wrote vorbis_analysis_wrote = nullptr;
    T_vorbis_analysis_blockout vorbis_analysis_blockout = nullptr;
    T_vorbis_analysis vorbis_analysis = nullptr;
    T_vorbis_bitrate_addblock vorbis_bitrate_addblock = nullptr;
    T_vorbis_bitrate_flushpacket vorbis_bitrate_flushpacket = nullptr;
    T_vorbis_block_clear vorbis_block_clear = nullptr;
    T_vorbis_dsp_clear vorbis_dsp_clear = nullptr;
    vorbis_info FVi{};
    vorbis_comment FVc{};
    vorbis_dsp_state FVd{};
    vorbis_block FVb{};
    ogg_stream_state FOs{};
};
