#include <algorithm>
#include <chrono>
#include <thread>

#include "capture/PortAudioDevices.h"
#include "platform/Text.h"
#include "platform/Tick.h"
#include "services/MetadataUpdateThread.h"
#include "services/NoarTitle.h"
#include "settings/CodecIds.h"
#include "streaming/NativeEncoderThread.h"

namespace {

constexpr uint64_t KTitleCheckMs = 2500;
constexpr int KRetryPauses = 30;
constexpr auto KRetryPause = std::chrono::milliseconds(100);

} // namespace

void TNativeEncoderThread::Execute()
{
    try {
        Transmit();
    } catch (...) {
        CleanUp();
        throw;
    }
    CleanUp();
}

void TNativeEncoderThread::Transmit()
{
    FCodecRow = FindCodecRow(FConfig.Codec);
    if (!CheckSettings())
        return;
    if (const PaError err = Pa_Initialize(); err != paNoError) {
        PostStatus("PortAudio nao iniciou: " + PortAudioErrorText(err), true);
        return;
    }
    FPaInitialized = true;
    if (!OpenCaptureStream(FCaptureStream, FCaptureChannels))
        return;
    FOutChannels = std::clamp(FConfig.Channels, 1, 2);
    if (!OpenEncoder())
        return;
    // A login that only works through Reconnect has its headers sent there;
    // sending them a second time would corrupt an Ogg stream.
    if (ConnectAndHandshake(FCodecRow->ContentType)) {
        if (!SendHeaderBytes() && !Reconnect("Servidor fechou a conexao."))
            return;
    } else if (!Reconnect("Nao conectou ao servidor de radio.")) {
        return;
    }
    SizeBuffers();

    ReadNoarTitle(FConfig, FSongTitle);
    FLastTitleTick = GetTickCount64();
    PushTitle(FConfig, FSongTitle);
    PostStatus("Transmitindo.", false);

    while (!Terminated()) {
        const PaError err = Pa_ReadStream(FCaptureStream, FCaptureBuffer.data(),
                                          static_cast<unsigned long>(FFramesPerRead));
        if (err != paNoError && err != paInputOverflowed) {
            PostStatus("Falha na leitura do audio: " + PortAudioErrorText(err), true);
            break;
        }
        CheckTitle();
        ProcessAudioBlock(FCaptureBuffer.data(), FFramesPerRead, FCaptureChannels, FOutputBuffer,
                          FOutChannels);
        ApplyKeepAliveTone(FOutputBuffer, FFramesPerRead, FOutChannels, GetTickCount64());
        if (!EncodeAndSendBlock())
            break;
    }
    FinishEncoder();
}

bool TNativeEncoderThread::CheckSettings()
{
    const char* refusal = nullptr;
    if (!FCodecRow)
        refusal = "Codec nao suportado neste build.";
    else if (Trim(FConfig.Host).empty())
        refusal = "Configure o host do servidor.";
    else if (FConfig.Port <= 0)
        refusal = "Configure a porta do servidor.";
    else if (FConfig.Password.empty())
        refusal = "Configure a senha do servidor.";
    else if (FConfig.AudioDeviceIndex < 0)
        refusal = "Selecione um canal de audio.";
    else if (!FCodecRow->AllowedOnShoutcast && IsShoutcastServer(FConfig.ServerType))
        refusal = "Ogg Vorbis e Ogg FLAC devem ser usados com Icecast. Para Shoutcast comum, use MP3 ou AAC+.";
    if (refusal)
        PostStatus(refusal, true);
    return !refusal;
}

void TNativeEncoderThread::SizeBuffers()
{
    const auto frames = static_cast<size_t>(FFramesPerRead);
    FCaptureBuffer.resize(frames * static_cast<size_t>(FCaptureChannels));
    FOutputBuffer.resize(frames * static_cast<size_t>(FOutChannels));
    if (FMp3)
        FMp3Buffer.resize(static_cast<size_t>(Mp3BufferSize(FFramesPerRead)));
}

void TNativeEncoderThread::CheckTitle()
{
    const uint64_t now = GetTickCount64();
    if (now - FLastTitleTick < KTitleCheckMs)
        return;
    FLastTitleTick = now;
    // A file that cannot be read right now keeps the last title on air.
    std::string title;
    if (!ReadNoarTitle(FConfig, title) || title.empty() || title == FSongTitle)
        return;
    FSongTitle = title;
    PushTitle(FConfig, FSongTitle);
}

bool TNativeEncoderThread::EncodeAndSendBlock()
{
    if (FEncoder) {
        if (!FEncoder->EncodeFloatInterleaved(FOutputBuffer.data(), FFramesPerRead, FEncodedBytes,
                                              FEncoderError)) {
            PostStatus(FEncoderError, true);
            return false;
        }
    } else {
        const int n = EncodeMp3Block(FMp3, FOutputBuffer.data(), FFramesPerRead, FMp3Buffer.data(),
                                     static_cast<int>(FMp3Buffer.size()));
        if (n < 0) {
            PostStatus("Falha ao codificar MP3.", true);
            return false;
        }
        FEncodedBytes.assign(reinterpret_cast<const char*>(FMp3Buffer.data()), static_cast<size_t>(n));
    }
    if (FEncodedBytes.empty() || SendBytes(FEncodedBytes))
        return true;
    // A send cut short by StopNow is the stop, not a lost server.
    if (Terminated() || !Reconnect("Servidor fechou a conexao."))
        return false;
    SizeBuffers();
    return true;
}

void TNativeEncoderThread::FinishEncoder()
{
    if (FEncoder) {
        if (!FEncoder->Finish(FEncodedBytes, FEncoderError))
            return;
    } else if (FMp3) {
        const int n = lame_encode_flush(FMp3, FMp3Buffer.data(), static_cast<int>(FMp3Buffer.size()));
        FEncodedBytes.assign(reinterpret_cast<const char*>(FMp3Buffer.data()), static_cast<size_t>(std::max(n, 0)));
    } else {
        return;
    }
    if (!FEncodedBytes.empty())
        SendBytes(FEncodedBytes);
}

bool TNativeEncoderThread::OpenEncoder()
{
    FreeEncoders();
    FHeaderBytes.clear();
    FEncoderError.clear();
    if (FCodecRow->Kind == TCodecKind::Mp3) {
        FMp3 = OpenMp3Encoder(FOutChannels, FConfig.SampleRate, FConfig.Bitrate);
        if (!FMp3) {
            PostStatus("Nao iniciou libmp3lame.", true);
            return false;
        }
        FFramesPerRead = FramesPerBlock(*FCodecRow, nullptr);
        return true;
    }
    FEncoder = CreateEncoder(*FCodecRow);
    if (!FEncoder->Start(FOutChannels, FConfig.SampleRate, FConfig.Bitrate, FHeaderBytes, FEncoderError)) {
        PostStatus(FEncoderError, true);
        return false;
    }
    FFramesPerRead = FramesPerBlock(*FCodecRow, FEncoder.get());
    return true;
}

bool TNativeEncoderThread::SendHeaderBytes()
{
    if (!FCodecRow->SendsHeaderBytes || FHeaderBytes.empty())
        return true;
    return SendBytes(FHeaderBytes);
}

bool TNativeEncoderThread::Reconnect(const std::string& AReason)
{
    PostStatus(AReason + " Reconectando...", true);
    CloseConnection();
    if (!OpenEncoder())
        return false;
    int attempt = 0;
    while (!Terminated()) {
        if (ConnectAndHandshake(FCodecRow->ContentType)) {
            if (SendHeaderBytes()) {
                PostStatus("Reconectado ao servidor de radio.", false);
                return true;
            }
            CloseConnection();
            PostStatus("Servidor fechou durante a reconexao. Tentando novamente...", true);
        }
        CloseConnection();
        ++attempt;
        PostStatus("Tentando reconectar ao servidor de radio (" + std::to_string(attempt) + ")...", true);
        for (int i = 0; i < KRetryPauses; ++i) {
            if (Terminated())
                return false;
            std::this_thread::sleep_for(KRetryPause);
        }
    }
    return false;
}

void TNativeEncoderThread::FreeEncoders()
{
    FEncoder.reset();
    if (FMp3) {
        lame_close(FMp3);
        FMp3 = nullptr;
    }
}

void TNativeEncoderThread::CleanUp()
{
    FreeEncoders();
    if (FCaptureStream) {
        Pa_StopStream(FCaptureStream);
        Pa_CloseStream(FCaptureStream);
        FCaptureStream = nullptr;
    }
    if (FPaInitialized) {
        Pa_Terminate();
        FPaInitialized = false;
    }
    CloseConnection();
    FWSAStarted = false; // nothing to stop: POSIX sockets need no library start
    if (Terminated())
        PostStatus("Parado.", false);
}
