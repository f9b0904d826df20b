#include <algorithm>

#include "dsp/Peak.h"
#include "engine/NativeEncoderThread.h"
#include "platform/Text.h"
#include "platform/Tick.h"
#include "services/ServerKind.h"
#include "settings/CodecIds.h"

namespace {

// Why a server's settings cannot stream, or null.
const char* SettingsRefusal(const TEncoderConfig& AConfig)
{
    const TCodecRow* codecRow = FindCodecRow(AConfig.Codec);
    if (!codecRow)
        return "Codec nao suportado neste build.";
    if (Trim(AConfig.Host).empty())
        return "Configure o host do servidor.";
    if (AConfig.Port <= 0)
        return "Configure a porta do servidor.";
    if (AConfig.Password.empty())
        return "Configure a senha do servidor.";
    if (AConfig.AudioDeviceIndex < 0)
        return "Selecione um canal de audio.";
    if (codecRow->Kind == TCodecKind::Mp3 && (AConfig.Mp3Quality < 0 || AConfig.Mp3Quality > 9))
        return "A qualidade do MP3 (Qualidade) vai de 0 a 9.";
    return ServerKindOf(AConfig).CodecRefusal(*codecRow);
}

int OutChannels(const TEncoderConfig& AConfig)
{
    return std::clamp(AConfig.Channels, 1, 2);
}

} // namespace

void TNativeEncoderThread::Execute()
{
    NameThisThread("capture");
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
    // A channel that may yet come goes on air as one lost, and heals.
    std::string absent;
    FCapture = OpenCaptureStream(&absent);
    if (!FCapture && absent.empty())
        return;
    FCapture = std::make_unique<THealingCapture>(
        std::move(FCapture), [this](std::string& AWhy) { return ReopenCaptureStream(AWhy); }, FConfig.SampleRate,
        [this](const std::string& AWhy) { CaptureChanged(AWhy); }, FCaptureHealth, OutChannels(FConfig), absent);
    FCaptureChannels = FCapture->Channels();
    if (!FServer->Prepare(FConfig.SampleRate, OutChannels(FConfig)))
        return;
    PrepareExtraServers();
    // Processed once, in as many channels as the widest output wants.
    FOutChannels = OutChannels(FConfig);
    for (const TExtraServer& s : FExtraServers)
        if (s.Started)
            FOutChannels = std::max(FOutChannels, OutChannels(s.Output->Config()));
    if (FConfig.RecordEnabled) {
        FRecording = std::make_unique<TRecordingOutput>(
            FConfig, [this](const std::string& AFileName, const std::string& AText, bool AIsError) {
                PostRecord(AFileName, AText, AIsError);
            });
        FRecording->RecordFrom(FServer->Encoding(), FConfig.SampleRate, FFramesPerRead);
        FRecording->StartThread("recording");
    }
    FServer->StartThread("server 1");
    for (TExtraServer& s : FExtraServers)
        if (s.Started)
            s.Output->StartThread("server " + std::to_string(s.Number));
    FSilence = TSilenceDetector(FConfig.SilenceThresholdDb, FConfig.SilenceSeconds, FConfig.SampleRate);
    FActions = std::make_unique<TAlarmActions>(FConfig.AlarmWebhookUrl, FConfig.AlarmCommand, FConfig.StreamName,
                                               [this](const TAlarm& AAlarm) { NotifyAlarm(AAlarm); });
    StartEars();
    StartFallback();
    FCaptureBuffer.resize(static_cast<size_t>(FFramesPerRead) * static_cast<size_t>(FCaptureChannels));
    const auto blockLength = std::chrono::microseconds(int64_t{FFramesPerRead} * 1000000 / FConfig.SampleRate);

    // A server's output ends only when it cannot go on (an encoder that
    // fails); a lost server is its own business.
    while (!Terminated() && !AllServersEnded()) {
        // Never fails: a lost channel is bridged while it is opened again.
        std::string ignored;
        FCapture->ReadBlock(FCaptureBuffer.data(), FFramesPerRead, ignored);
        WatchCapture();
        auto block = std::make_shared<TAudioBlock>();
        block->Frames = FFramesPerRead;
        block->Channels = FOutChannels;
        block->Start = std::chrono::system_clock::now() - blockLength;
        ProcessAudioBlock(FCaptureBuffer.data(), FFramesPerRead, FCaptureChannels, block->Samples, FOutChannels);
        const bool sound = WatchSilence(block->Samples, FFramesPerRead);
        MixFallback(block->Samples, FFramesPerRead, sound);
        ApplyKeepAliveTone(block->Samples, FFramesPerRead, FOutChannels, GetTickCount64());
        const TAudioBlockPtr shared = std::move(block);
        // The recording takes server 1's encode.
        FServer->Feed(shared);
        for (TExtraServer& s : FExtraServers)
            s.Output->Feed(shared);
    }
}

bool TNativeEncoderThread::WatchSilence(const std::vector<float>& ASamples, int32_t AFrames)
{
    const float peak = PeakOf(ASamples.data(), std::min(ASamples.size(), size_t(AFrames) * size_t(FOutChannels)));
    const bool sound = FSilence.IsSound(peak);
    FProgrammeLevel.Note(sound, GetTickCount64());
    const TSilenceDetector::TChange change = FSilence.Feed(peak, AFrames);
    if (!FConfig.SilenceAlarmEnabled || change == TSilenceDetector::TChange::None)
        return sound;
    if (change == TSilenceDetector::TChange::Raised)
        PostAlarm({0, TAlarmKind::Silence, true,
                   "Silencio no programa ha " + std::to_string(FSilence.Seconds()) + " s (abaixo de " +
                       std::to_string(FSilence.ThresholdDb()) + " dBFS)."});
    else
        PostAlarm({0, TAlarmKind::Silence, false, "Som de volta no programa."});
    return sound;
}

void TNativeEncoderThread::CaptureChanged(const std::string& AWhy)
{
    if (!AWhy.empty()) {
        FCaptureLostTick = std::max<uint64_t>(GetTickCount64(), 1);
        FCaptureLostWhy = AWhy;
        PostAlarm({0, TAlarmKind::CaptureDown, false, "Canal de captura perdido (" + AWhy + "). Tentando reabrir...",
                   AWhy});
        return;
    }
    FCaptureLostTick = 0;
    const std::string caption = FConfig.AudioDeviceName.empty() ? FConfig.AudioDeviceId : FConfig.AudioDeviceName;
    const std::string back = "Canal de captura de volta: " + caption + ".";
    PostAlarm({0, TAlarmKind::CaptureBack, false, back, caption});
    if (FCaptureAlarmRaised)
        PostAlarm({0, TAlarmKind::CaptureLost, false, back, caption});
    FCaptureAlarmRaised = false;
}

void TNativeEncoderThread::WatchCapture()
{
    // As long as the programme may be silent before its alarm.
    const uint64_t after = static_cast<uint64_t>(std::max(FConfig.SilenceSeconds, 1)) * 1000;
    if (FCaptureLostTick == 0 || FCaptureAlarmRaised || GetTickCount64() - FCaptureLostTick < after)
        return;
    FCaptureAlarmRaised = true;
    PostAlarm({0, TAlarmKind::CaptureLost, true,
               "Canal de captura perdido ha " + std::to_string(after / 1000) + " s (" + FCaptureLostWhy + ").",
               FCaptureLostWhy});
}

void TNativeEncoderThread::StartEars()
{
    if (!FConfig.ListenerCheckEnabled)
        return;
    std::vector<std::pair<int, TServerOutput*>> servers{{1, FServer.get()}};
    for (TExtraServer& s : FExtraServers)
        if (s.Started)
            servers.emplace_back(s.Number, s.Output.get());
    for (auto [number, output] : servers)
        FEars.push_back(std::make_unique<TListenerEar>(
            output->Config(), number, FProgrammeLevel, FSilence.ThresholdPeak(),
            [output] { return output->OnAirState(); }, [this](const TAlarm& AAlarm) { PostAlarm(AAlarm); }));
}

bool TNativeEncoderThread::CheckSettings()
{
    const char* refusal = SettingsRefusal(FConfig);
    if (refusal)
        PostTransmission(TOutputPhase::Failed, TRefusal::Settings, refusal);
    return !refusal;
}

void TNativeEncoderThread::PrepareExtraServers()
{
    for (TExtraServer& s : FExtraServers) {
        const TEncoderConfig& config = s.Output->Config();
        if (const char* refusal = SettingsRefusal(config)) {
            PostOutput(s.Number, {TOutputPhase::Failed, TRefusal::Settings, 0, 0, false, "", refusal});
            continue;
        }
        s.Started = s.Output->Prepare(FConfig.SampleRate, OutChannels(config));
    }
}

bool TNativeEncoderThread::AllServersEnded() const
{
    // Each server fails alone; only when none is left is there nothing to
    // transmit.
    for (const TExtraServer& s : FExtraServers)
        if (s.Started && !s.Output->Ended())
            return false;
    return FServer->Ended();
}

void TNativeEncoderThread::EndOutputs()
{
    // A stop ends the servers at once; after a capture failure they send
    // what is queued and their encoders' last bytes. The recording takes
    // all that server 1's encode makes either way.
    std::vector<TServerOutput*> servers{FServer.get()};
    for (TExtraServer& s : FExtraServers)
        servers.push_back(s.Output.get());
    for (TServerOutput* server : servers) {
        if (Terminated())
            server->Stop();
        server->EndOfAudio();
    }
    for (TServerOutput* server : servers)
        server->Join();
    if (FRecording)
        FRecording->Join();
    FRecording.reset();
}

void TNativeEncoderThread::CleanUp()
{
    // The ears look at the servers' outputs: they go first; the actions
    // post their failures through the owner's pumping, so they end here on
    // this thread, never in the destructor.
    FEars.clear();
    FFallback.reset();
    FActions.reset();
    EndOutputs();
    FCapture.reset();
    FServer->CloseConnection();
    for (TExtraServer& s : FExtraServers)
        s.Output->CloseConnection();
    if (!Terminated())
        return;
    const TOutputState stopped{TOutputPhase::Stopped, TRefusal::None, 0, 0, false, "", "Parado."};
    for (const TExtraServer& s : FExtraServers)
        if (s.Started)
            PostOutput(s.Number, stopped);
    PostOutput(1, stopped);
}
