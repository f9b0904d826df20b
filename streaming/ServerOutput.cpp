#include "streaming/ServerOutput.h"

#include "platform/Tick.h"
#include "services/MetadataUpdateThread.h"
#include "services/NoarTitle.h"

namespace {

constexpr uint64_t KTitleCheckMs = 2500;
// Audio the server may fall behind by before the oldest is dropped: a
// slow moment is bridged, a dead server is noticed well before.
constexpr int KQueueSeconds = 12;
constexpr int KPopWaitMs = 200;

} // namespace

TServerOutput::TServerOutput(const TEncoderConfig& AConfig, TStatusReport AReport)
    : TPipelineOutput(1), FConfig(AConfig), FReport(std::move(AReport)), FCodecRow(FindCodecRow(AConfig.Codec)),
      FPinned(AConfig.TlsFingerprint)
{
}

TServerOutput::~TServerOutput()
{
    Stop();
    Join();
    CloseConnection();
}

bool TServerOutput::Prepare(int32_t ASampleRate, int AOutChannels)
{
    FConfig.SampleRate = ASampleRate;
    FOutChannels = AOutChannels;
    // Read before the encoder starts, so an Ogg stream carries it from its
    // first page.
    ReadNoarTitle(FConfig, FSongTitle);
    FFileTitle = FSongTitle;
    FLastTitleTick = GetTickCount64();
    if (!OpenEncoder())
        return false;
    FQueue.SetCapacity(static_cast<size_t>(KQueueSeconds * ASampleRate / FFramesPerBlock + 1));
    return true;
}

void TServerOutput::Stop()
{
    TPipelineOutput::Stop();
    ShutdownConnection();
}

void TServerOutput::Failed(const std::string& AWhat)
{
    PostStatus("Falha no envio ao servidor: " + AWhat, true);
}

void TServerOutput::Run()
{
    if (!FirstLogin())
        return;
    PostStatus("Transmitindo.", false);
    while (!Terminated()) {
        const TAudioBlockPtr block = FQueue.Pop(KPopWaitMs);
        if (!block) {
            if (FQueue.Closed())
                break;
            continue;
        }
        ReportDrops();
        CheckTitle();
        if (!EncodeAndSendBlock(*block))
            break;
    }
    NoteOnAir(false);
    FinishEncoder();
}

TOnAirState TServerOutput::OnAirState() const
{
    TOnAirState state;
    {
        const std::lock_guard<std::mutex> guard(FOnAirLock);
        state = FOnAir;
    }
    state.PinnedFingerprint = PinnedFingerprint();
    return state;
}

void TServerOutput::NoteOnAir(bool ALoggedIn)
{
    const std::lock_guard<std::mutex> guard(FOnAirLock);
    FOnAir.LoggedIn = ALoggedIn;
    FOnAir.LoginTick = ALoggedIn ? GetTickCount64() : 0;
}

void TServerOutput::NoteTitleSent()
{
    const std::lock_guard<std::mutex> guard(FOnAirLock);
    FOnAir.Title = FSongTitle;
    FOnAir.TitleTick = GetTickCount64();
}

void TServerOutput::ReportDrops()
{
    if (FQueue.TakeDroppedFrames() > 0 && !FBehind) {
        FBehind = true;
        PostStatus("Servidor lento: parte do audio foi descartada.", true);
    } else if (FBehind && FQueue.Empty()) {
        FBehind = false;
        PostStatus("Transmitindo.", false);
    }
}

void TServerOutput::SetTitle(const std::string& ATitle)
{
    const std::lock_guard<std::mutex> guard(FTitleLock);
    FGivenTitle = ATitle;
}

void TServerOutput::CheckTitle()
{
    std::string given;
    {
        const std::lock_guard<std::mutex> guard(FTitleLock);
        given.swap(FGivenTitle);
    }
    if (!given.empty() && given != FSongTitle) {
        FSongTitle = given;
        PublishTitle();
    }
    const uint64_t now = GetTickCount64();
    if (now - FLastTitleTick < KTitleCheckMs)
        return;
    FLastTitleTick = now;
    // A file that cannot be read right now keeps the last title on air;
    // one that did not change leaves a title given since then on air.
    std::string title;
    if (!ReadNoarTitle(FConfig, title) || title.empty() || title == FFileTitle)
        return;
    FFileTitle = title;
    if (title == FSongTitle)
        return;
    FSongTitle = title;
    PublishTitle();
}

void TServerOutput::PublishTitle()
{
    // Ogg streams carry their title inside, in a new chain; the admin
    // interface would not take it for them.
    std::string ignored;
    if (FEncoder && FEncoder->SupportsStreamTitle())
        FEncoder->SetStreamTitle(FSongTitle, ignored);
    else
        PushTitle(TitleConfig(), FSongTitle);
    NoteTitleSent();
}

bool TServerOutput::EncodeAndSendBlock(const TAudioBlock& ABlock)
{
    if (!FEncoder->EncodeFloatInterleaved(SamplesIn(ABlock, FOutChannels), ABlock.Frames, FEncodedBytes, FEncoderError)) {
        PostStatus(FEncoderError, true);
        return false;
    }
    if (FEncodedBytes.empty() || (SendBytes(FEncodedBytes) && !ConnectionStalled()))
        return true;
    // A send cut short by a stop is the stop, not a lost server.
    return !Terminated() && Reconnect("Servidor fechou a conexao.");
}

void TServerOutput::FinishEncoder()
{
    if (!FEncoder || !FEncoder->Finish(FEncodedBytes, FEncoderError))
        return;
    if (!FEncodedBytes.empty())
        SendBytes(FEncodedBytes);
}

bool TServerOutput::OpenEncoder()
{
    FEncoder.reset();
    FHeaderBytes.clear();
    FEncoderError.clear();
    FEncoder = CreateEncoder(*FCodecRow);
    if (std::string ignored; FEncoder->SupportsStreamTitle())
        FEncoder->SetStreamTitle(FSongTitle, ignored);
    if (!FEncoder->Start(FOutChannels, FConfig.SampleRate, FConfig.Bitrate, FHeaderBytes, FEncoderError)) {
        PostStatus(FEncoderError, true);
        return false;
    }
    FFramesPerBlock = ::FramesPerBlock(*FCodecRow, FEncoder.get());
    return true;
}

bool TServerOutput::SendHeaderBytes()
{
    if (!FCodecRow->SendsHeaderBytes || FHeaderBytes.empty())
        return true;
    return SendBytes(FHeaderBytes);
}
