#include "capture/SoundServerChannel.h"

#include "capture/SoundServerStream.h"

namespace {

const TSoundServerDevice* FindByName(const TSoundServerCatalogue& ACatalogue, const std::string& AName)
{
    for (const TSoundServerDevice& dev : ACatalogue.Devices)
        if (dev.Name == AName)
            return &dev;
    return nullptr;
}

const TSoundServerDevice* FindConfigured(const TSoundServerCatalogue& ACatalogue, const TEncoderConfig& AConfig)
{
    const std::string prefix = KSoundServerIdPrefix;
    if (AConfig.AudioDeviceId.rfind(prefix, 0) == 0)
        return FindByName(ACatalogue, AConfig.AudioDeviceId.substr(prefix.size()));
    const int64_t position = int64_t{AConfig.AudioDeviceIndex} - KSoundServerIndexBase;
    if (position < 0 || position >= static_cast<int64_t>(ACatalogue.Devices.size()))
        return nullptr;
    return &ACatalogue.Devices[static_cast<size_t>(position)];
}

} // namespace

std::string SoundServerDeviceId(const TSoundServerDevice& ADevice)
{
    return KSoundServerIdPrefix + ADevice.Name;
}

bool IsSoundServerChannel(const TEncoderConfig& AConfig)
{
    return AConfig.AudioDeviceId.rfind(KSoundServerIdPrefix, 0) == 0 ||
           AConfig.AudioDeviceIndex >= KSoundServerIndexBase;
}

TSoundServerChannelPlan ResolveSoundServerChannel(const TSoundServerCatalogue& ACatalogue,
                                                  const TEncoderConfig& AConfig)
{
    TSoundServerChannelPlan plan;
    plan.SampleRate = AConfig.SampleRate;
    plan.Channels = AConfig.Channels > 1 ? 2 : 1;
    if (!ACatalogue.Reachable) {
        plan.Error = "N\xC3\xA3o abriu o canal selecionado: o servidor de som (PulseAudio/PipeWire) n\xC3\xA3o "
                     "respondeu.";
        plan.Absent = true;
        return plan;
    }
    const TSoundServerDevice* dev = FindConfigured(ACatalogue, AConfig);
    if (!dev) {
        plan.Error = AConfig.AudioDeviceId.empty()
                         ? "Canal de \xC3\xA1udio inv\xC3\xA1lido."
                         : "O canal selecionado n\xC3\xA3o est\xC3\xA1 mais no servidor de som: " +
                               (AConfig.AudioDeviceName.empty() ? AConfig.AudioDeviceId : AConfig.AudioDeviceName) +
                               ". Conecte o dispositivo ou escolha outro canal.";
        plan.Absent = !AConfig.AudioDeviceId.empty();
        return plan;
    }
    if (AConfig.AudioSourceKind != askOutputLoopback) {
        if (dev->IsSink) {
            plan.Error = "O canal selecionado n\xC3\xA3o \xC3\xA9 uma entrada de \xC3\xA1udio.";
            return plan;
        }
        plan.SourceName = dev->Name;
        return plan;
    }
    if (!dev->IsSink) {
        plan.Error = "O canal selecionado n\xC3\xA3o \xC3\xA9 uma sa\xC3\xAD" "da de \xC3\xA1udio.";
        return plan;
    }
    const TSoundServerDevice* monitor = dev->MonitorSource.empty() ? nullptr : FindByName(ACatalogue, dev->MonitorSource);
    if (!monitor) {
        plan.Error = "N\xC3\xA3o encontrou entrada de retorno para a sa\xC3\xAD" "da selecionada. "
                     "Ative Mixagem est\xC3\xA9reo/loopback desse dispositivo ou selecione uma "
                     "entrada de retorno equivalente.";
        return plan;
    }
    plan.Loopback = true;
    plan.SourceName = monitor->Name;
    plan.PartnerName = monitor->Description.empty() ? monitor->Name : monitor->Description;
    if (monitor->SampleRate >= 8000 && monitor->SampleRate <= 192000)
        plan.SampleRate = monitor->SampleRate;
    return plan;
}

std::unique_ptr<TCaptureSource> OpenSoundServerChannel(TEncoderConfig& AConfig, int AFramesPerBlock,
                                                       const TCaptureReport& AReport, bool AKeepRate,
                                                       bool* AAbsent)
{
    const TSoundServerChannelPlan plan = ResolveSoundServerChannel(EnumerateSoundServerDevices(), AConfig);
    if (AAbsent)
        *AAbsent = plan.Absent;
    if (!plan.Error.empty()) {
        AReport(plan.Error, true);
        return nullptr;
    }
    if (plan.Loopback && !AKeepRate) {
        AConfig.SampleRate = plan.SampleRate;
        AReport("Canal de retorno: " + plan.PartnerName, false);
    }
    std::string error;
    auto capture = OpenSoundServerCapture(plan.SourceName, AConfig.SampleRate, plan.Channels, AFramesPerBlock, error);
    if (!capture)
        AReport(error, true);
    return capture;
}
