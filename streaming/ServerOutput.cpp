#include "streaming/ServerOutput.h"

#include "platform/Text.h"
#include "platform/Tick.h"
#include "services/NoarTitle.h"

namespace {

constexpr uint64_t KTitleCheckMs = 2500;
// Audio the server may fall behind by before the oldest is dropped: a
// slow moment is bridged, a dead server is noticed well before.
constexpr int KQueueSeconds = 12;
constexpr int KPopWaitMs = 200;

} // namespace

TServerOutput::TServerOutput(const TEncoderConfig& AConfig, TStatusReport AReport, TNoticeReport ANotice)
    : TPipelineOutput(1), FConfig(AConfig), FReport(std::move(AReport)), FCodecRow(FindCodecRow(AConfig.Codec)),
      FPinned(AConfig.TlsFingerprint), FNotice(std::move(ANotice)), FEncode(FCodecRow, AConfig.Mp3Quality),
      FTitles([this](const std::string& ATitle, const TTitleOutcome& AOutcome) { JudgeTitleUpdate(ATitle, AOutcome); })
{
    FEncode.Attach(this);
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
    // Read before the encoder starts, so an Ogg stream carries it from its
    // first page.
    ReadNoarTitle(FConfig, FSongTitle);
    FFileTitle = FSongTitle;
    FLastTitleTick = GetTickCount64();
    const auto blocks = static_cast<size_t>(KQueueSeconds * ASampleRate / KDefaultFramesPerBlock + 1);
    FQueue.SetCapacity(blocks);
    std::string error;
    if (!FEncode.Prepare(ASampleRate, AOutChannels, FConfig.Bitrate, FSongTitle, blocks, error)) {
        TellFailed(TRefusal::Encoder, error);
        return false;
    }
    return true;
}

void TServerOutput::StartThread(const std::string& AName)
{
    FEncode.StartThread(AName + " encode");
    TPipelineOutput::StartThread(AName);
}

void TServerOutput::Join()
{
    FEncode.Join();
    TPipelineOutput::Join();
}

void TServerOutput::Stop()
{
    TPipelineOutput::Stop();
    ShutdownConnection();
}

void TServerOutput::Failed(const std::string& AWhat)
{
    TellFailed(TRefusal::Send, "Falha no envio ao servidor: " + AWhat);
}

void TServerOutput::Tell(TOutputPhase APhase, const std::string& AText, const TLoginRefusal& ARefusal)
{
    TOutputState state;
    state.Phase = APhase;
    state.Refusal = ARefusal.Kind;
    state.AnswerCode = ARefusal.Code;
    state.Attempt = APhase == TOutputPhase::Retrying ? FAttempt : 0;
    state.Behind = APhase == TOutputPhase::OnAir && FBehind;
    if (ARefusal.Kind == TRefusal::UntrustedCertificate && FConnection.Tls())
        state.Fingerprint = FConnection.Tls()->UntrustedFingerprint();
    state.Text = AText;
    FReport(state);
}

void TServerOutput::TellFailed(TRefusal AReason, const std::string& AText)
{
    Tell(TOutputPhase::Failed, AText, {AReason, 0, ""});
}

void TServerOutput::Run()
{
    if (FirstLogin()) {
        Tell(TOutputPhase::OnAir, "Transmitindo.");
        Stream();
    }
    NoteOnAir(false);
    if (const std::string why = StreamFailure(); !why.empty())
        TellFailed(TRefusal::Encoder, why);
}

void TServerOutput::Stream()
{
    // The encode's last chunk, its streams' end, goes out too.
    while (!Terminated()) {
        const TEncodedChunkPtr chunk = FQueue.Pop(KPopWaitMs);
        if (!chunk) {
            if (FQueue.Closed())
                break;
            continue;
        }
        ReportDrops();
        CheckTitle();
        if (!SendChunk(*chunk))
            break;
    }
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
    if (FQueue.TakeDroppedFrames() > 0) {
        // What was dropped may have begun a new Ogg stream, whose header
        // the server never got: it is rejoined at a new one.
        if (FPlace.In())
            FEncode.RestartAt(TWallTime::min());
        FPlace.Leave();
        if (!FBehind)
            Tell(TOutputPhase::OnAir, "Servidor lento: parte do audio foi descartada.");
        FBehind = true;
    } else if (FBehind && FQueue.Empty()) {
        FBehind = false;
        Tell(TOutputPhase::OnAir, "Transmitindo.");
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
    // Ogg streams carry their title inside, in a new chain.
    FEncode.SetStreamTitle(FSongTitle);
    PublishByAdmin();
    NoteTitleSent();
}

void TServerOutput::PublishByAdmin()
{
    // icecast2 applies an admin update to a Vorbis mount by rewriting the
    // stream's comment header, which races the stream's own new chain: the
    // title went missing under load. The stream carries it already. Other
    // servers (a harbor, a relay) may read titles only from the request.
    if (Trim(FSongTitle).empty())
        return;
    FTitles.Publish(TitleConfig(), FSongTitle, /*AUnlessIcecast=*/TitlesInStream());
}

// On the publisher's thread.
void TServerOutput::JudgeTitleUpdate(const std::string& ATitle, const TTitleOutcome& AOutcome)
{
    // A mount that takes no titles by request has them from the stream.
    if (AOutcome.Accepted || (AOutcome.NotTaken && TitlesInStream()) || !FNotice)
        return;
    FNotice("Titulo nao atualizado no servidor (" + AOutcome.Why + "): " + ATitle);
}

bool TServerOutput::SendChunk(const TEncodedChunk& AChunk)
{
    if (!FPlace.Take(AChunk, FBytes) || FBytes.empty() || (SendBytes(FBytes) && !ConnectionStalled()))
        return true;
    // A send cut short by a stop is the stop, not a lost server.
    return !Terminated() && Reconnect("Servidor fechou a conexao.");
}

bool TServerOutput::JoinStream()
{
    // What queued while no server took it is old news to a listener.
    FQueue.Clear();
    FPlace.Leave();
    // Any chunk will do for a codec without stream headers: the next one
    // goes out as it comes.
    if (!FEncode.HasStreamHeader())
        return true;
    FEncode.RestartAt(TWallTime::min());
    while (!GivingUp()) {
        const TEncodedChunkPtr chunk = FQueue.Pop(KPopWaitMs);
        if (chunk && FPlace.Take(*chunk, FBytes))
            return SendBytes(FBytes);
    }
    return false;
}
