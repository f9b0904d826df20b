#include "capture/SoundServerChannel.h"
#include "engine/NativeEncoderThread.h"
#include "fallback/ChannelSource.h"
#include "fallback/FolderSource.h"
#include "fallback/UrlSource.h"
#include "platform/Text.h"

namespace {

// Why the fallback's settings cannot play, or empty.
std::string FallbackRefusal(const TEncoderConfig& AConfig)
{
    if (AConfig.FallbackSource == "pasta")
        return Trim(AConfig.FallbackFolder).empty() ? "escolha a pasta de arquivos" : "";
    if (AConfig.FallbackSource == "url")
        return Trim(AConfig.FallbackUrl).empty() ? "informe o endereco do fluxo" : "";
    if (AConfig.FallbackSource == "canal")
        return AConfig.FallbackDeviceId.rfind(KSoundServerIdPrefix, 0) == 0
                   ? ""
                   : "escolha um canal do servidor de som (PulseAudio/PipeWire)";
    return "fonte desconhecida \"" + AConfig.FallbackSource + "\" (use pasta, url ou canal)";
}

// How long the programme may be silent before the fallback comes.
int FallbackSeconds(const TEncoderConfig& AConfig)
{
    return AConfig.FallbackSeconds > 0 ? AConfig.FallbackSeconds : AConfig.SilenceSeconds;
}

} // namespace

void TNativeEncoderThread::StartFallback()
{
    if (!FConfig.FallbackEnabled)
        return;
    const std::string refusal = FallbackRefusal(FConfig);
    if (!refusal.empty()) {
        PostAlarm({0, TAlarmKind::FallbackTrouble, false, "Programa de reserva desligado: " + refusal + "."});
        return;
    }
    FFallbackSwitch = std::make_unique<TFallbackSwitch>(FConfig.SampleRate, FallbackSeconds(FConfig));
    FFallbackBuffer.resize(static_cast<size_t>(FFramesPerRead) * static_cast<size_t>(FOutChannels));
    FFallback = std::make_unique<TFallbackProgramme>(
        [this](const std::atomic<bool>& AStop) { return MakeFallbackSource(AStop); }, FConfig.SampleRate,
        FOutChannels);
}

std::unique_ptr<TFallbackSource> TNativeEncoderThread::MakeFallbackSource(const std::atomic<bool>& AStop)
{
    const TFallbackNotice notice = [this](const std::string& AText) {
        PostAlarm({0, TAlarmKind::FallbackTrouble, false, AText});
    };
    if (FConfig.FallbackSource == "url")
        return std::make_unique<TUrlSource>(Trim(FConfig.FallbackUrl), FConfig.SampleRate, FOutChannels, AStop,
                                            notice);
    if (FConfig.FallbackSource == "pasta")
        return std::make_unique<TFolderSource>(FConfig.FallbackFolder, FConfig.SampleRate, FOutChannels, AStop,
                                               notice);
    std::string why;
    std::unique_ptr<TCaptureSource> open = OpenFallbackChannel(why);
    auto healing = std::make_unique<THealingCapture>(
        std::move(open), [this](std::string& AWhy) { return OpenFallbackChannel(AWhy); }, FConfig.SampleRate,
        [notice](const std::string& AWhy) {
            notice(AWhy.empty() ? "Canal da reserva de volta." : "Canal da reserva perdido (" + AWhy + ").");
        },
        FFallbackChannelHealth, FOutChannels, why);
    return std::make_unique<TChannelSource>(std::move(healing), FFramesPerRead);
}

void TNativeEncoderThread::MixFallback(std::vector<float>& ASamples, int32_t AFrames, bool AProgrammeSound)
{
    if (!FFallbackSwitch)
        return;
    const TFallbackSwitch::TChange change = FFallbackSwitch->Note(AProgrammeSound, AFrames);
    if (change == TFallbackSwitch::TChange::TakenOver) {
        PostAlarm({0, TAlarmKind::Fallback, true,
                   "Programa de reserva no ar: o programa esta em silencio ha " +
                       std::to_string(FallbackSeconds(FConfig)) + " s."});
        const std::lock_guard<std::mutex> guard(FTitleLock);
        if (!FConfig.FallbackTitle.empty()) {
            FFallbackTitled = true;
            SendTitle(FConfig.FallbackTitle);
        }
    } else if (change == TFallbackSwitch::TChange::GivenBack) {
        PostAlarm({0, TAlarmKind::Fallback, false, "Programa de volta no ar; reserva encerrada."});
        const std::lock_guard<std::mutex> guard(FTitleLock);
        // With no title of its own yet, the programme goes by the stream's name.
        if (std::exchange(FFallbackTitled, false))
            SendTitle(FProgrammeTitle.empty() ? FConfig.StreamName : FProgrammeTitle);
    }
    if (!FFallbackSwitch->Audible())
        return;
    FFallback->Read(FFallbackBuffer.data(), AFrames);
    FFallbackSwitch->Mix(ASamples.data(), FFallbackBuffer.data(), AFrames, FOutChannels);
}
