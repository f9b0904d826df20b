#pragma once

#include <cstdint>

// The records, constants and entry point types of the FDK AAC encoder
// library (aacenc_lib.h), declared here because the library is loaded at
// run time and has no headers on the build machine.

using HANDLE_AACENCODER = struct AACENCODER*;

struct TAACENC_BufDesc {
    int32_t numBufs;
    void** bufs;
    int32_t* bufferIdentifiers;
    int32_t* bufSizes;
    int32_t* bufElSizes;
};

struct TAACENC_InArgs {
    int32_t numInSamples;
    int32_t numAncBytes;
};

struct TAACENC_OutArgs {
    int32_t numOutBytes;
    int32_t numInSamples;
    int32_t numAncBytes;
    int32_t bitResState;
};

struct TAACENC_InfoStruct {
    uint32_t maxOutBufBytes;
    uint32_t maxAncBytes;
    uint32_t inBufFillLevel;
    uint32_t inputChannels;
    uint32_t frameLength;
    uint32_t nDelay;
    uint32_t nDelayCore;
    uint8_t confBuf[64];
    uint32_t confSize;
};

// Parameter numbers of aacEncoder_SetParam.
inline constexpr uint32_t AACENC_AOT = 0x0100;
inline constexpr uint32_t AACENC_BITRATE = 0x0101;
inline constexpr uint32_t AACENC_SAMPLERATE = 0x0103;
inline constexpr uint32_t AACENC_CHANNELMODE = 0x0106;
inline constexpr uint32_t AACENC_CHANNELORDER = 0x0107;
inline constexpr uint32_t AACENC_SBR_RATIO = 0x0108;
inline constexpr uint32_t AACENC_AFTERBURNER = 0x0200;
inline constexpr uint32_t AACENC_TRANSMUX = 0x0300;
inline constexpr uint32_t AACENC_SIGNALING_MODE = 0x0302;

// Buffer identifiers and result codes.
inline constexpr int32_t IN_AUDIO_DATA = 0;
inline constexpr int32_t OUT_BITSTREAM_DATA = 3;
inline constexpr int32_t AACENC_OK = 0;
inline constexpr int32_t AACENC_ENCODE_EOF = 0x0080;

extern "C" {
using T_aacEncOpen = int32_t (*)(HANDLE_AACENCODER*, uint32_t, uint32_t);
using T_aacEncoder_SetParam = int32_t (*)(HANDLE_AACENCODER, uint32_t, uint32_t);
using T_aacEncEncode = int32_t (*)(HANDLE_AACENCODER, const TAACENC_BufDesc*,
                                   const TAACENC_BufDesc*, const TAACENC_InArgs*,
                                   TAACENC_OutArgs*);
using T_aacEncInfo = int32_t (*)(HANDLE_AACENCODER, TAACENC_InfoStruct*);
using T_aacEncClose = int32_t (*)(HANDLE_AACENCODER*);
}
