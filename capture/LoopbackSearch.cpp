#include "capture/LoopbackSearch.h"

#include "capture/DeviceNames.h"

bool FindLoopbackInput(const TAudioDeviceList& ADevices, int AOutputIndex, int& APartnerIndex,
                       std::string& APartnerName)
{
    APartnerIndex = -1;
    APartnerName.clear();
    const auto output = ADevices.Info(AOutputIndex);
    if (!output)
        return false;
    int bestScore = -1;
    const int count = ADevices.Count();
    for (int i = 0; i < count; ++i) {
        if (i == AOutputIndex)
            continue;
        const auto candidate = ADevices.Info(i);
        if (!candidate || candidate->Device.MaxInputChannels <= 0)
            continue;
        const int32_t api = candidate->Device.HostApiType;
        if (api != KLoopbackHostApiType && api != -1)
            continue;
        const int score = LoopbackMatchScore(output->Device.Name, candidate->Device.Name);
        if (score > bestScore) {
            bestScore = score;
            APartnerIndex = i;
            APartnerName = candidate->Device.Name;
        }
    }
    return APartnerIndex >= 0 && bestScore >= 100;
}
