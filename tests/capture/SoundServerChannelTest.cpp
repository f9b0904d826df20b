#include <gtest/gtest.h>

#include "capture/AudioComboItems.h"
#include "capture/SoundServerChannel.h"

namespace {

TSoundServerDevice Sink(const std::string& AName, const std::string& ADescription, int ARate = 48000)
{
    return {AName, ADescription, true, false, AName + ".monitor", 2, ARate};
}

TSoundServerDevice Monitor(const std::string& ASink, const std::string& ADescription, int ARate = 48000)
{
    return {ASink + ".monitor", ADescription, false, true, "", 2, ARate};
}

TSoundServerDevice Source(const std::string& AName, const std::string& ADescription)
{
    return {AName, ADescription, false, false, "", 2, 48000};
}

TSoundServerCatalogue Catalogue(std::vector<TSoundServerDevice> ADevices)
{
    return {true, "PulseAudio", std::move(ADevices)};
}

TEncoderConfig Chosen(const TAudioComboItem& AItem)
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.SampleRate = 44100;
    c.Channels = 2;
    c.AudioDeviceIndex = AItem.DeviceIndex;
    c.AudioSourceKind = AItem.SourceKind;
    c.AudioDeviceId = AItem.DeviceId;
    c.AudioDeviceName = AItem.DisplayName;
    return c;
}

} // namespace

TEST(SoundServerChannels, ListedAsInputsAndOutputsWithTheServersDescriptions)
{
    const auto catalogue = Catalogue({Sink("Speakers", "Built-in Audio"), Monitor("Speakers", "Monitor of Built-in"),
                                      Source("usb_mic", "USB Headset Mic")});
    const std::vector<TTavixAudioDevice> alsa = {
        {0, "pulse", "ALSA", 32, 32, 44100, 8}, {1, "default", "ALSA", 32, 32, 44100, 8},
        {2, "hw:Loopback", "ALSA", 2, 2, 48000, 8}};
    const auto items = BuildCaptureChannelList(alsa, catalogue);
    std::vector<std::string> names;
    for (const auto& item : items)
        names.push_back(item.DisplayName);
    EXPECT_EQ(names, (std::vector<std::string>{"Sa\xC3\xAD" "da: Built-in Audio  [PulseAudio]",
                                               "Entrada: USB Headset Mic  [PulseAudio]",
                                               "Entrada: hw:Loopback  [ALSA]", "hw:Loopback"}))
        << "monitors only as their sink's loopback; pulse/default hidden behind the real list";
    EXPECT_EQ(items[0].SourceKind, askOutputLoopback);
    EXPECT_EQ(items[0].DeviceId, "pulse:Speakers");
    EXPECT_EQ(items[1].DeviceIndex, KSoundServerIndexBase + 2);

    // No server: PortAudio's list as it always was.
    const auto plain = BuildCaptureChannelList(alsa, TSoundServerCatalogue{});
    EXPECT_EQ(plain.size(), 6u);
    EXPECT_EQ(plain[0].DisplayName, "Entrada: pulse  [ALSA]");
}

TEST(SoundServerChannels, AChoiceSurvivesAReorderedList)
{
    const auto before = Catalogue({Sink("Speakers", "Speakers"), Monitor("Speakers", "Monitor of Speakers"),
                                   Sink("Headset", "Headset"), Monitor("Headset", "Monitor of Headset", 44100)});
    const auto beforeItems = BuildSoundServerComboItems(before);
    const TEncoderConfig chosen = Chosen(beforeItems[1]);
    ASSERT_EQ(chosen.AudioDeviceId, "pulse:Headset");

    // A sink plugged in ahead of the chosen one moves every position.
    const auto after = Catalogue({Sink("USB", "USB Interface"), Monitor("USB", "Monitor of USB"),
                                  Sink("Speakers", "Speakers"), Monitor("Speakers", "Monitor of Speakers"),
                                  Sink("Headset", "Headset"), Monitor("Headset", "Monitor of Headset", 44100)});
    const auto plan = ResolveSoundServerChannel(after, chosen);
    EXPECT_EQ(plan.Error, "");
    EXPECT_EQ(plan.SourceName, "Headset.monitor");
    EXPECT_TRUE(plan.Loopback);
    EXPECT_EQ(plan.PartnerName, "Monitor of Headset");
    EXPECT_EQ(plan.SampleRate, 44100) << "the monitor's own rate";
    const auto afterItems = BuildSoundServerComboItems(after);
    const int selected = FindAudioComboItem(afterItems, chosen.AudioDeviceIndex, chosen.AudioSourceKind,
                                            chosen.AudioDeviceId);
    ASSERT_GE(selected, 0);
    EXPECT_EQ(afterItems[selected].DeviceId, "pulse:Headset") << "the dialog shows the same device chosen";

    // Stored without a name (by position only), the position decides.
    TEncoderConfig byPosition = chosen;
    byPosition.AudioDeviceId.clear();
    byPosition.AudioDeviceIndex = KSoundServerIndexBase + 2;
    EXPECT_EQ(ResolveSoundServerChannel(after, byPosition).SourceName, "Speakers.monitor");
}

TEST(SoundServerChannels, RefusalsInPlainWords)
{
    auto catalogue = Catalogue({Sink("Speakers", "Speakers"), Monitor("Speakers", "Monitor of Speakers"),
                                Source("mic", "Mic"), Sink("NoMonitor", "Odd sink")});
    TEncoderConfig c = Chosen({KSoundServerIndexBase, askOutputLoopback, "Saída: Gone", "pulse:Gone"});
    c.AudioDeviceName = "Gone [PulseAudio]";
    EXPECT_EQ(ResolveSoundServerChannel(catalogue, c).Error,
              "O canal selecionado n\xC3\xA3o est\xC3\xA1 mais no servidor de som: Gone [PulseAudio]. "
              "Conecte o dispositivo ou escolha outro canal.");
    c.AudioDeviceId = "pulse:mic";
    EXPECT_EQ(ResolveSoundServerChannel(catalogue, c).Error,
              "O canal selecionado n\xC3\xA3o \xC3\xA9 uma sa\xC3\xAD" "da de \xC3\xA1udio.");
    c.AudioSourceKind = askInput;
    c.AudioDeviceId = "pulse:Speakers";
    EXPECT_EQ(ResolveSoundServerChannel(catalogue, c).Error,
              "O canal selecionado n\xC3\xA3o \xC3\xA9 uma entrada de \xC3\xA1udio.");
    c.AudioDeviceId = "pulse:mic";
    EXPECT_EQ(ResolveSoundServerChannel(catalogue, c).SourceName, "mic");
    EXPECT_EQ(ResolveSoundServerChannel(catalogue, c).SampleRate, 44100) << "an input takes the settings' rate";
    c.AudioSourceKind = askOutputLoopback;
    c.AudioDeviceId = "pulse:NoMonitor";
    catalogue.Devices.back().MonitorSource.clear();
    EXPECT_NE(ResolveSoundServerChannel(catalogue, c).Error.find("N\xC3\xA3o encontrou entrada de retorno"),
              std::string::npos);
    c.AudioDeviceId.clear();
    c.AudioDeviceIndex = KSoundServerIndexBase + 99;
    EXPECT_EQ(ResolveSoundServerChannel(catalogue, c).Error, "Canal de \xC3\xA1udio inv\xC3\xA1lido.");
    c.AudioDeviceId = "pulse:mic";
    EXPECT_EQ(ResolveSoundServerChannel(TSoundServerCatalogue{}, c).Error,
              "N\xC3\xA3o abriu o canal selecionado: o servidor de som (PulseAudio/PipeWire) n\xC3\xA3o respondeu.");
}
