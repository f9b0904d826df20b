#include "codecs/Mp3Encoder.h"

#include <algorithm>

TMp3Encoder::~TMp3Encoder()
{
    Close();
}

void TMp3Encoder::Close()
{
    if (FLame)
        lame_close(FLame);
    FLame = nullptr;
}

bool TMp3Encoder::Start(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps, std::string& HeaderBytes,
                        std::string& AError)
{
    HeaderBytes.clear();
    AError.clear();
    Close();
    FLame = OpenMp3Encoder(AChannels, ASampleRate, ABitrateKbps, FQuality);
    if (!FLame) {
        AError = "Nao iniciou libmp3lame.";
        return false;
    }
    return true;
}

bool TMp3Encoder::EncodeFloatInterleaved(const float* Pcm, int32_t Frames, std::string& EncodedBytes,
                                         std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FLame) {
        AError = "Falha ao codificar MP3.";
        return false;
    }
    FBuffer.resize(static_cast<size_t>(Mp3BufferSize(Frames)));
    const int n = EncodeMp3Block(FLame, Pcm, Frames, FBuffer.data(), static_cast<int>(FBuffer.size()));
    if (n < 0) {
        AError = "Falha ao codificar MP3.";
        return false;
    }
    EncodedBytes.assign(reinterpret_cast<const char*>(FBuffer.data()), static_cast<size_t>(n));
    return true;
}

bool TMp3Encoder::Finish(std::string& EncodedBytes, std::string& AError)
{
    EncodedBytes.clear();
    AError.clear();
    if (!FLame)
        return true;
    // LAME's flush never needs more than its 7200-byte margin.
    FBuffer.resize(static_cast<size_t>(Mp3BufferSize(0)));
    const int n = lame_encode_flush(FLame, FBuffer.data(), static_cast<int>(FBuffer.size()));
    EncodedBytes.assign(reinterpret_cast<const char*>(FBuffer.data()), static_cast<size_t>(std::max(n, 0)));
    Close();
    return true;
}
