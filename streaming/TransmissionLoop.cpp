#include <algorithm>
#include <chrono>
#include <thread>

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
// A login that the server ends sooner than this was no real login: it is
// retried at the normal pace, not at once, again and again.
constexpr uint64_t KQuickDropMs = 5000;

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
    FCapture = OpenCaptureStream();
    if (!FCapture)
        return;
    FCaptureChannels = FCapture->Channels();
    FOutChannels = std::clamp(FConfig.Channels, 1, 2);
    // Read before the encoder starts, so an Ogg stream carries it from its
    // first page.
    ReadNoarTitle(FConfig, FSongTitle);
    FLastTitleTick = GetTickCount64();
    if (!OpenEncoder())
        return;
    PostStatus("Conectando ao servidor de radio em " + Trim(FConfig.Host) + ":" + std::to_string(FConfig.Port) +
                   "...",
               false);
    // A login that only works through Reconnect has its headers sent there;
    // sending them a second time would corrupt an Ogg stream. A stop during
    // the login is no lost server: nothing is retried then.
    if (ConnectAndHandshake(FCodecRow->ContentType)) {
        if (SendHeaderBytes())
            OnLoggedIn();
        else if (Terminated() || !Reconnect("Servidor fechou a conexao."))
            return;
    } else if (Terminated() || !Reconnect("Nao conectou ao servidor de radio.")) {
        return;
    }
    SizeBuffers();
    PostStatus("Transmitindo.", false);

    while (!Terminated()) {
        std::string readError;
        if (!FCapture->ReadBlock(FCaptureBuffer.data(), FFramesPerRead, readError)) {
            PostStatus(readError, true);
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
    else if (FCodecRow->Kind == TCodecKind::OggOpus && IsShoutcastServer(FConfig.ServerType))
        refusal = "Ogg Opus deve ser usado com Icecast. Para Shoutcast comum, use MP3 ou AAC+.";
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
    PublishTitle();
}

void TNativeEncoderThread::PublishTitle()
{
    // Ogg streams carry their title inside, in a new chain; the admin
    // interface would not take it for them.
    std::string ignored;
    if (FEncoder && FEncoder->SupportsStreamTitle())
        FEncoder->SetStreamTitle(FSongTitle, ignored);
    else
        PushTitle(FConfig, FSongTitle);
}

void TNativeEncoderThread::OnLoggedIn()
{
    FLoginTick = GetTickCount64();
    FLastRefusal.clear();
    // Every login starts a new stream on the server, which has no title for
    // it until told; an Ogg encoder was started with it already.
    if (!(FEncoder && FEncoder->SupportsStreamTitle()))
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
    if (FEncodedBytes.empty() || (SendBytes(FEncodedBytes) && !ConnectionStalled()))
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
    if (std::string ignored; FEncoder->SupportsStreamTitle())
        FEncoder->SetStreamTitle(FSongTitle, ignored);
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
    if (Terminated())
        return false;
    PostStatus(AReason + " Reconectando...", true);
    CloseConnection();
    const bool droppedAtOnce = FLoginTick != 0 && GetTickCount64() - FLoginTick < KQuickDropMs;
    FLoginTick = 0;
    if (!OpenEncoder())
        return false;
    if (droppedAtOnce) {
        FLastRefusal = "(servidor encerrou a conexao logo apos o login)";
        ++FAttempt;
        PostRetry();
        if (!RetryPause())
            return false;
    } else {
        FAttempt = 0;
    }
    while (!Terminated()) {
        if (ConnectAndHandshake(FCodecRow->ContentType)) {
            if (SendHeaderBytes()) {
                PostStatus("Reconectado ao servidor de radio.", false);
                OnLoggedIn();
                return true;
            }
            CloseConnection();
            if (Terminated())
                return false;
            FLastRefusal = "(servidor fechou a conexao)";
            PostStatus("Servidor fechou durante a reconexao. Tentando novamente...", true);
        }
        CloseConnection();
        if (Terminated())
            return false;
        ++FAttempt;
        PostRetry();
        if (!RetryPause())
            return false;
    }
    return false;
}

void TNativeEncoderThread::PostRetry()
{
    PostStatus("Tentando reconectar ao servidor de radio (" + std::to_string(FAttempt) + ")..." +
                   (FLastRefusal.empty() ? "" : " " + FLastRefusal),
               true);
}

bool TNativeEncoderThread::RetryPause()
{
    for (int i = 0; i < KRetryPauses; ++i) {
        if (Terminated())
            return false;
        std::this_thread::sleep_for(KRetryPause);
    }
    return !Terminated();
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
    FCapture.reset();
    CloseConnection();
    FWSAStarted = false; // nothing to stop: POSIX sockets need no library start
    if (Terminated())
        PostStatus("Parado.", false);
}
