#include "codecs/FdkAac.h"

#include <algorithm>
#include <cstring>

#include "codecs/EntryPoints.h"
#include "codecs/SampleConversion.h"

namespace {

const char* const KNoLibrary = "Nao encontrou dll\\libfdk-aac-2.dll para AAC+.";
const char* const KMissingFunction = "A DLL libfdk-aac-2.dll nao exporta a funcao necessaria: ";
// The flushing call hands out one frame at a time; the encoder delay of
// HE-AAC is a few frames, so a handful of calls empty it.
constexpr int KMaxFlushCalls = 16;

std::string ErrorText(int32_t ACode)
{
    return "AAC+ erro " + std::to_string(ACode);
}

} // namespace

TFdkAacPlusEncoder::~TFdkAacPlusEncoder()
{
    if (FStarted) {
        std::string bytes, error;
        Finish(bytes, error);
    }
    CloseHandle();
    FreeLibrary(FLib);
}

std::vector<std::string> TFdkAacPlusEncoder::LibraryNames() const
{
    return {"libfdk-aac.so.2", "libfdk-aac.so"};
}

bool TFdkAacPlusEncoder::LoadLibrary(std::string& AError)
{
    FLib = SearchLibraryB(LibraryNames());
    if (!FLib) {
        AError = KNoLibrary;
        return false;
    }
    TEntryPointResolver r({FLib}, KMissingFunction, AError);
    r.Required(aacEncOpen, "aacEncOpen");
    r.Required(aacEncoder_SetParam, "aacEncoder_SetParam");
    r.Required(aacEncEncode, "aacEncEncode");
    r.Required(aacEncInfo, "aacEncInfo");
    r.Required(aacEncClose, "aacEncClose");
    FLoaded = r.Ok();
    return FLoaded;
}

bool TFdkAacPlusEncoder::IsAvailable(std::string& AError)
{
    AError.clear();
    TFdkAacPlusEncoder probe;
    return probe.LoadLibrary(AError);
}

size_t TFdkAacPlusEncoder::OutputBufferSize(uint32_t AMaxOutBufBytes)
{
    return std::max<size_t>(static_cast<size_t>(AMaxOutBufBytes) + 1024, 8192);
}

void TFdkAacPlusEncoder::CloseHandle()
{
    if (FHandle && aacEncClose)
        aacEncClose(&FHandle);
    FHandle = nullptr;
}

bool TFdkAacPlusEncoder::Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
                               std::string& HeaderBytes, std::string& AError)
{
    HeaderBytes.clear();
    AError.clear();
    if (!FLoaded && !LoadLibrary(AError))
        return false;
    CloseHandle();
    FStarted = false;
    FChannels = std::clamp(AChannels, 1, 2);
    FSampleRate = std::max(ASampleRate, 8000);
    FBitrate = std::max(ABitrateKbps, 16);

    auto step = [&](int32_t ACode, const char* AMessage) {
        if (ACode == AACENC_OK)
            return true;
        AError = std::string(AMessage) + ErrorText(ACode);
        return false;
    };
    if (!step(aacEncOpen(&FHandle, 0, static_cast<uint32_t>(FChannels)), "Nao abriu encoder AAC+: "))
        return false;
    // The bitrate in bit/s saturates instead of wrapping for absurd values.
    const uint32_t bitsPerSecond =
        static_cast<uint32_t>(std::min<int64_t>(int64_t{FBitrate} * 1000, UINT32_MAX));
    if (!step(aacEncoder_SetParam(FHandle, AACENC_AOT, 5), "Nao configurou AAC+ AOT: ") ||
        !step(aacEncoder_SetParam(FHandle, AACENC_SAMPLERATE, static_cast<uint32_t>(FSampleRate)),
              "Nao configurou sample rate AAC+: ") ||
        !step(aacEncoder_SetParam(FHandle, AACENC_CHANNELMODE, FChannels == 1 ? 1 : 2),
              "Nao configurou canais AAC+: "))
        return false;
    aacEncoder_SetParam(FHandle, AACENC_CHANNELORDER, 1);
    if (!step(aacEncoder_SetParam(FHandle, AACENC_BITRATE, bitsPerSecond),
              "Nao configurou bitrate AAC+: ") ||
        !step(aacEncoder_SetParam(FHandle, AACENC_SBR_RATIO, 2), "Nao configurou SBR AAC+: ") ||
        !step(aacEncoder_SetParam(FHandle, AACENC_SIGNALING_MODE, 0),
              "Nao configurou sinalizacao AAC+: ") ||
        !step(aacEncoder_SetParam(FHandle, AACENC_TRANSMUX, 2), "Nao configurou ADTS AAC+: ") ||
        !step(aacEncoder_SetParam(FHandle, AACENC_AFTERBURNER, 1),
              "Nao configurou qualidade AAC+: ") ||
        !step(aacEncEncode(FHandle, nullptr, nullptr, nullptr, nullptr),
              "Nao iniciou encoder AAC+: "))
        return false;
    std::memset(&FInfo, 0, sizeof(FInfo));
    if (!step(aacEncInfo(FHandle, &FInfo), "Nao obteve informacoes AAC+: "))
        return false;
    FFrameLength = FInfo.frameLength > 0 ? static_cast<int32_t>(FInfo.frameLength) : 2048;
    FOutBuf.resize(OutputBufferSize(FInfo.maxOutBufBytes));
    FStarted = true;
    return true;
}

int32_t TFdkAacPlusEncoder::EncodeCall(const TAACENC_BufDesc* AInDesc, const TAACENC_InArgs& AInArgs,
                                       TAACENC_OutArgs& AOutArgs)
{
    void* outPtr = FOutBuf.data();
    int32_t outId = OUT_BITSTREAM_DATA;
    int32_t outSize = static_cast<int32_t>(FOutBuf.size());
    int32_t outElSize = 1;
    const TAACENC_BufDesc outDesc{1, &outPtr, &outId, &outSize, &outElSize};
    AOutArgs = TAACENC_OutArgs{};
    return aacEncEncode(FHandle, AInDesc, &outDesc, &AInArgs, &AOutArgs);
}

bool TFdkAacPlusEncoder::EncodeFloatInterleaved(const float* Pcm, int32_t Frames,
                                                std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted || !FHandle) {
        AError = "Encoder AAC+ nao iniciado.";
        return false;
    }
    const int64_t n = int64_t{Frames} * FChannels;
    if (n <= 0)
        return true;
    ToAacSamples(Pcm, static_cast<size_t>(n), FPcm16);

    // One call takes one codec frame of input; a longer block is fed in
    // as many calls as the library needs, so no sample is dropped.
    int64_t done = 0;
    while (done < n) {
        void* inPtr = FPcm16.data() + done;
        int32_t inId = IN_AUDIO_DATA;
        int32_t inSize = static_cast<int32_t>((n - done) * 2);
        int32_t inElSize = 2;
        const TAACENC_BufDesc inDesc{1, &inPtr, &inId, &inSize, &inElSize};
        const TAACENC_InArgs inArgs{static_cast<int32_t>(n - done), 0};
        TAACENC_OutArgs outArgs{};
        const int32_t code = EncodeCall(&inDesc, inArgs, outArgs);
        if (code != AACENC_OK) {
            AError = "Falha ao codificar AAC+: " + ErrorText(code);
            return false;
        }
        if (outArgs.numOutBytes > 0)
            EncodedBytes.append(reinterpret_cast<const char*>(FOutBuf.data()),
                                static_cast<size_t>(outArgs.numOutBytes));
        if (outArgs.numInSamples <= 0 && outArgs.numOutBytes <= 0)
            break;
        done += std::max(outArgs.numInSamples, 0);
    }
    return true;
}

bool TFdkAacPlusEncoder::Finish(std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FStarted || !FHandle)
        return true;
    FStarted = false;
    const TAACENC_InArgs inArgs{-1, 0};
    TAACENC_OutArgs outArgs{};
    for (int call = 0; call < KMaxFlushCalls; ++call) {
        const int32_t code = EncodeCall(nullptr, inArgs, outArgs);
        if (outArgs.numOutBytes > 0)
            EncodedBytes.append(reinterpret_cast<const char*>(FOutBuf.data()),
                                static_cast<size_t>(outArgs.numOutBytes));
        if (code != AACENC_OK && code != AACENC_ENCODE_EOF) {
            AError = "Falha ao finalizar AAC+: " + ErrorText(code);
            return false;
        }
        if (code == AACENC_ENCODE_EOF || outArgs.numOutBytes <= 0)
            return true;
    }
    return true;
}
