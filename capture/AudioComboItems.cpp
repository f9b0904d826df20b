#include "capture/AudioComboItems.h"

#include "capture/DeviceCaption.h"

std::vector<TAudioComboItem> BuildAudioComboItems(const std::vector<TTavixAudioDevice>& ADevices)
{
    std::vector<TAudioComboItem> items;
    for (const TTavixAudioDevice& dev : ADevices) {
        if (dev.MaxInputChannels > 0)
            items.push_back({dev.Index, askInput,
                             "Entrada: " + dev.Name + "  [" + dev.HostApiName + "]"});
        if (dev.MaxOutputChannels > 0 && dev.HostApiType == KLoopbackHostApiType)
            items.push_back({dev.Index, askOutputLoopback, CleanDeviceCaption(dev.Name)});
    }
    return items;
}

int FindAudioComboItem(const std::vector<TAudioComboItem>& AItems, int32_t AIndex,
                       TAudioSourceKind AKind)
{
    for (size_t i = 0; i < AItems.size(); ++i)
        if (AItems[i].DeviceIndex == AIndex && AItems[i].SourceKind == AKind)
            return static_cast<int>(i);
    return -1;
}
