#include <algorithm>

#include "platform/Text.h"
#include "platform/Tick.h"
#include "settings/CodecIds.h"
#include "streaming/NativeEncoderThread.h"

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
    if (!CheckSettings())
        return;
    FCapture = OpenCaptureStream();
    if (!FCapture)
        return;
    FCaptureChannels = FCapture->Channels();
    FOutChannels = std::clamp(FConfig.Channels, 1, 2);
    if (!FServer->Prepare(FConfig.SampleRate, FOutChannels))
        return;
    FFramesPerRead = FServer->FramesPerBlock();
    if (FConfig.RecordEnabled) {
        FRecording = std::make_unique<TRecordingOutput>(
            FConfig, [this](const std::string& AFileName, const std::string& AText, bool AIsError) {
                PostRecord(AFileName, AText, AIsError);
            });
        FRecording->Prepare(FConfig.SampleRate, FOutChannels, FFramesPerRead);
        FRecording->StartThread();
    }
    FServer->StartThread();
    FCaptureBuffer.resize(static_cast<size_t>(FFramesPerRead) * static_cast<size_t>(FCaptureChannels));
    const auto blockLength = std::chrono::microseconds(int64_t{FFramesPerRead} * 1000000 / FConfig.SampleRate);

    // The server's output ends the transmission only when it cannot go on
    // (an encoder that fails); a lost server is its own business.
    while (!Terminated() && !FServer->Ended()) {
        std::string readError;
        if (!FCapture->ReadBlock(FCaptureBuffer.data(), FFramesPerRead, readError)) {
            PostStatus(readError, true);
            break;
        }
        auto block = std::make_shared<TAudioBlock>();
        block->Frames = FFramesPerRead;
        block->Start = std::chrono::system_clock::now() - blockLength;
        ProcessAudioBlock(FCaptureBuffer.data(), FFramesPerRead, FCaptureChannels, block->Samples, FOutChannels);
        ApplyKeepAliveTone(block->Samples, FFramesPerRead, FOutChannels, GetTickCount64());
        const TAudioBlockPtr shared = std::move(block);
        FServer->Feed(shared);
        if (FRecording)
            FRecording->Feed(shared);
    }
}

bool TNativeEncoderThread::CheckSettings()
{
    const TCodecRow* codecRow = FindCodecRow(FConfig.Codec);
    const char* refusal = nullptr;
    if (!codecRow)
        refusal = "Codec nao suportado neste build.";
    else if (Trim(FConfig.Host).empty())
        refusal = "Configure o host do servidor.";
    else if (FConfig.Port <= 0)
        refusal = "Configure a porta do servidor.";
    else if (FConfig.Password.empty())
        refusal = "Configure a senha do servidor.";
    else if (FConfig.AudioDeviceIndex < 0)
        refusal = "Selecione um canal de audio.";
    else if (codecRow->Kind == TCodecKind::OggOpus && IsShoutcastServer(FConfig.ServerType))
        refusal = "Ogg Opus deve ser usado com Icecast. Para Shoutcast comum, use MP3 ou AAC+.";
    else if (!codecRow->AllowedOnShoutcast && IsShoutcastServer(FConfig.ServerType))
        refusal = "Ogg Vorbis e Ogg FLAC devem ser usados com Icecast. Para Shoutcast comum, use MP3 ou AAC+.";
    if (refusal)
        PostStatus(refusal, true);
    return !refusal;
}

void TNativeEncoderThread::EndOutputs()
{
    // A stop ends the server at once; after a capture failure it sends
    // what is queued and the encoder's last bytes.
    if (Terminated())
        FServer->Stop();
    FServer->EndOfAudio();
    if (FRecording)
        FRecording->EndOfAudio();
    FServer->Join();
    if (FRecording)
        FRecording->Join();
    FRecording.reset();
}

void TNativeEncoderThread::CleanUp()
{
    EndOutputs();
    FCapture.reset();
    FServer->CloseConnection();
    if (Terminated())
        PostStatus("Parado.", false);
}
