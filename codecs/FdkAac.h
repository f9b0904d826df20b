#pragma once

#include <string>
#include <vector>

#include "codecs/AudioEncoder.h"
#include "codecs/FdkAacApi.h"
#include "platform/DynamicLibrary.h"

// HE-AAC (AAC-LC core at half rate plus SBR), constant bitrate, ADTS
// framing, on libfdk-aac loaded at run time. Each block handed to it
// should be FrameLength frames: one codec frame per call.
class TFdkAacPlusEncoder : public TAudioEncoder {
public:
    TFdkAacPlusEncoder() = default;
    ~TFdkAacPlusEncoder() override;

    bool Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
               std::string& HeaderBytes, std::string& AError) override;
    bool EncodeFloatInterleaved(const float* Pcm, int32_t Frames, std::string& EncodedBytes,
                                std::string& AError) override;
    bool Finish(std::string& EncodedBytes, std::string& AError) override;
    int32_t FrameLength() const override { return FFrameLength; }

    static bool IsAvailable(std::string& AError);
    // Output buffer for a library maximum: 1024 bytes more, at least 8192.
    static size_t OutputBufferSize(uint32_t AMaxOutBufBytes);

protected:
    virtual std::vector<std::string> LibraryNames() const;

    bool LoadLibrary(std::string& AError);
    // One library call into FOutBuf, which Start has sized; started only.
    int32_t EncodeCall(const TAACENC_BufDesc* AInDesc, const TAACENC_InArgs& AInArgs,
                       TAACENC_OutArgs& AOutArgs);
    void CloseHandle();

    TLibHandle FLib = nullptr;
    HANDLE_AACENCODER FHandle = nullptr;
    bool FLoaded = false;
    bool FStarted = false;
    int32_t FChannels = 2;
    int32_t FSampleRate = 44100;
    int32_t FBitrate = 64;
    int32_t FFrameLength = 2048;
    std::vector<int16_t> FPcm16;
    std::vector<uint8_t> FOutBuf;
    TAACENC_InfoStruct FInfo{};
    T_aacEncOpen aacEncOpen = nullptr;
    T_aacEncoder_SetParam aacEncoder_SetParam = nullptr;
    T_aacEncEncode aacEncEncode = nullptr;
    T_aacEncInfo aacEncInfo = nullptr;
    T_aacEncClose aacEncClose = nullptr;
};
