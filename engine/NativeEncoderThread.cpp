#include "engine/NativeEncoderThread.h"

TNativeEncoderThread::TNativeEncoderThread(const TEncoderConfig& AConfig)
    : TThread(true), FConfig(AConfig), FProcessor(AConfig.EQBands, AConfig.CompressorEnabled),
      FServer(std::make_unique<TServerOutput>(
          AConfig, [this](const TOutputState& AState) { PostOutput(1, AState); },
          [this](const std::string& AText) { NotifyAlarm({1, TAlarmKind::TitleNotSent, false, AText}); })),
      FSilence(AConfig.SilenceThresholdDb, AConfig.SilenceSeconds, AConfig.SampleRate)
{
    for (int n = 2; n <= KMaxServers; ++n) {
        if (!AConfig.ExtraServers[static_cast<size_t>(n - 2)].Enabled)
            continue;
        FExtraServers.push_back(
            {n, std::make_unique<TServerOutput>(
                    ConfigForServer(AConfig, n), [this, n](const TOutputState& AState) { PostOutput(n, AState); },
                    [this, n](const std::string& AText) { NotifyAlarm({n, TAlarmKind::TitleNotSent, false, AText}); })});
    }
}

TServerOutput& TNativeEncoderThread::Server(int AServer)
{
    for (TExtraServer& s : FExtraServers)
        if (s.Number == AServer)
            return *s.Output;
    return *FServer;
}

TNativeEncoderThread::~TNativeEncoderThread()
{
    // Execute uses this object's members: it must be over before they go.
    if (!Finished())
        StopNow();
    Shutdown();
}

void TNativeEncoderThread::UpdateAudioProcessing(const TEncoderConfig& AConfig)
{
    FProcessor.UpdateAudioProcessing(AConfig.EQBands, AConfig.CompressorEnabled);
}

void TNativeEncoderThread::ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels,
                                             std::vector<float>& AOutput, int AOutChannels)
{
    FLevels.Post(FProcessor.ProcessAudioBlock(AInput, AFrames, AInChannels, AOutput, AOutChannels, FConfig.SampleRate),
                 AFrames);
}

void TNativeEncoderThread::ApplyKeepAliveTone(std::vector<float>& AOutput, int AFrames, int AOutChannels,
                                              uint64_t ANowTick)
{
    FProcessor.ApplyKeepAliveTone(AOutput, AFrames, AOutChannels, ANowTick, FConfig.SampleRate);
}

void TNativeEncoderThread::SetTitle(const std::string& ATitle)
{
    const std::lock_guard<std::mutex> guard(FTitleLock);
    FProgrammeTitle = ATitle;
    if (!FFallbackTitled)
        SendTitle(ATitle);
}

void TNativeEncoderThread::SendTitle(const std::string& ATitle)
{
    FServer->SetTitle(ATitle);
    for (TExtraServer& s : FExtraServers)
        s.Output->SetTitle(ATitle);
}

uint64_t TNativeEncoderThread::BytesSent() const
{
    uint64_t total = FServer->BytesSent();
    for (const TExtraServer& s : FExtraServers)
        total += s.Output->BytesSent();
    return total;
}

void TNativeEncoderThread::StopNow()
{
    Terminate();
    FServer->Stop();
    for (TExtraServer& s : FExtraServers)
        s.Output->Stop();
}

// The outputs post from their own threads: each hand-off carries its own
// copy of what it tells.
void TNativeEncoderThread::PostOutput(int AServer, const TOutputState& AState)
{
    if (OnOutput)
        Queue([this, AServer, AState] { OnOutput(this, AServer, AState); });
}

void TNativeEncoderThread::PostTransmission(TOutputPhase APhase, TRefusal AReason, const std::string& AText)
{
    TOutputState state;
    state.Phase = APhase;
    state.Refusal = AReason;
    state.Text = AText;
    PostOutput(1, state);
}

void TNativeEncoderThread::PostRecord(const std::string& AFileName, const std::string& AText, bool AIsError)
{
    if (OnRecord)
        Queue([this, AFileName, AText, AIsError] { OnRecord(this, AFileName, AText, AIsError); });
}

void TNativeEncoderThread::PostAlarm(const TAlarm& AAlarm)
{
    // Told first, so that a failed action's notice follows its alarm.
    NotifyAlarm(AAlarm);
    if (FActions)
        FActions->Take(AAlarm);
}

void TNativeEncoderThread::NotifyAlarm(const TAlarm& AAlarm)
{
    if (OnAlarm)
        Queue([this, AAlarm] { OnAlarm(this, AAlarm); });
}
