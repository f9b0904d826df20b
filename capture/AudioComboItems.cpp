#include "capture/AudioComboItems.h"

#include "capture/DeviceCaption.h"
#include "capture/SoundServerChannel.h"

std::vector<TAudioComboItem> BuildAudioComboItems(const std::vector<TTavixAudioDevice>& ADevices)
{
    std::vector<TAudioComboItem> items;
    for (const TTavixAudioDevice& dev : ADevices) {
        if (dev.MaxInputChannels > 0)
            items.push_back({dev.Index, askInput,
                             "Entrada: " + dev.Name + "  [" + dev.HostApiName + "]", {}});
        if (dev.MaxOutputChannels > 0 && dev.HostApiType == KLoopbackHostApiType)
            items.push_back({dev.Index, askOutputLoopback, CleanDeviceCaption(dev.Name), {}});
    }
    return items;
}

std::vector<TAudioComboItem> BuildSoundServerComboItems(const TSoundServerCatalogue& ACatalogue)
{
    std::vector<TAudioComboItem> items;
    const std::string label = "  [" + ACatalogue.ServerLabel + "]";
    for (size_t i = 0; i < ACatalogue.Devices.size(); ++i) {
        const TSoundServerDevice& dev = ACatalogue.Devices[i];
        if (dev.IsMonitor)
            continue; // reached as its sink's loopback
        const std::string name = dev.Description.empty() ? dev.Name : dev.Description;
        const int32_t index = KSoundServerIndexBase + static_cast<int32_t>(i);
        if (dev.IsSink)
            items.push_back({index, askOutputLoopback, "Sa\xC3\xAD" "da: " + name + label, SoundServerDeviceId(dev)});
        else
            items.push_back({index, askInput, "Entrada: " + name + label, SoundServerDeviceId(dev)});
    }
    return items;
}

std::vector<TAudioComboItem> BuildCaptureChannelList(const std::vector<TTavixAudioDevice>& ADevices,
                                                     const TSoundServerCatalogue& ACatalogue)
{
    std::vector<TAudioComboItem> items = BuildSoundServerComboItems(ACatalogue);
    const bool serverListed = !items.empty();
    std::vector<TTavixAudioDevice> devices;
    for (const TTavixAudioDevice& dev : ADevices)
        if (!(serverListed && (dev.Name == "pulse" || dev.Name == "default" || dev.Name == "pipewire")))
            devices.push_back(dev);
    for (TAudioComboItem& item : BuildAudioComboItems(devices))
        items.push_back(std::move(item));
    return items;
}

int FindAudioComboItem(const std::vector<TAudioComboItem>& AItems, int32_t AIndex,
                       TAudioSourceKind AKind, const std::string& ADeviceId)
{
    for (size_t i = 0; i < AItems.size(); ++i) {
        const bool same = ADeviceId.empty() ? AItems[i].DeviceIndex == AIndex && AItems[i].DeviceId.empty()
                                            : AItems[i].DeviceId == ADeviceId;
        if (same && AItems[i].SourceKind == AKind)
            return static_cast<int>(i);
    }
    return -1;
}
