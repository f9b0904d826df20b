#include "capture/CaptureChannel.h"

#include <algorithm>
#include <cmath>

#include "capture/LoopbackSearch.h"

std::vector<int> CaptureChannelCandidates(int AWanted, int ADeviceInputChannels)
{
    const int maxChannels = ADeviceInputChannels > 0 ? ADeviceInputChannels : 1;
    const int offered[] = {AWanted > 0 ? AWanted : 1, 2, 1, maxChannels, 4, 8};
    std::vector<int> list;
    for (int count : offered) {
        count = std::min(count, maxChannels);
        if (std::find(list.begin(), list.end(), count) == list.end())
            list.push_back(count);
    }
    return list;
}

TCaptureChannelPlan ResolveCaptureChannel(const TAudioDeviceList& ADevices,
                                          const TEncoderConfig& AConfig)
{
    TCaptureChannelPlan plan;
    plan.SampleRate = AConfig.SampleRate;
    const auto configured = ADevices.Info(AConfig.AudioDeviceIndex);
    if (!configured) {
        plan.Error = "Canal de \xC3\xA1udio inv\xC3\xA1lido.";
        return plan;
    }
    const int wanted = AConfig.Channels > 1 ? 2 : AConfig.Channels;
    auto toOpen = configured;
    if (AConfig.AudioSourceKind != askOutputLoopback) {
        if (configured->Device.MaxInputChannels <= 0) {
            plan.Error = "O canal selecionado n\xC3\xA3o \xC3\xA9 uma entrada de \xC3\xA1udio.";
            return plan;
        }
        plan.SuggestedLatency = std::max(configured->DefaultHighInputLatency, 0.08);
    } else {
        if (configured->Device.HostApiType != KLoopbackHostApiType) {
            plan.Error = "Selecione uma sa\xC3\xAD" "da Windows WASAPI para capturar o retorno do "
                         "\xC3\xA1udio.";
            return plan;
        }
        if (configured->Device.MaxOutputChannels <= 0) {
            plan.Error = "O canal selecionado n\xC3\xA3o \xC3\xA9 uma sa\xC3\xAD" "da de \xC3\xA1udio.";
            return plan;
        }
        int partner = -1;
        std::string partnerName;
        if (!FindLoopbackInput(ADevices, AConfig.AudioDeviceIndex, partner, partnerName)) {
            plan.Error = "N\xC3\xA3o encontrou entrada de retorno para a sa\xC3\xAD" "da selecionada. "
                         "Ative Mixagem est\xC3\xA9reo/loopback desse dispositivo ou selecione uma "
                         "entrada de retorno equivalente.";
            return plan;
        }
        toOpen = ADevices.Info(partner);
        if (!toOpen) {
            plan.Error = "Canal de retorno inv\xC3\xA1lido.";
            return plan;
        }
        const double rate = toOpen->Device.DefaultSampleRate;
        if (rate >= 8000.0 && rate <= 192000.0)
            plan.SampleRate = static_cast<int32_t>(std::lround(rate));
        plan.Loopback = true;
        plan.PartnerName = partnerName;
        plan.SuggestedLatency = std::max(toOpen->DefaultHighInputLatency, 0.12);
    }
    plan.DeviceIndex = toOpen->Device.Index;
    plan.ChannelCandidates = CaptureChannelCandidates(wanted, toOpen->Device.MaxInputChannels);
    return plan;
}
