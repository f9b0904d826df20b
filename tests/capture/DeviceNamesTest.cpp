#include <gtest/gtest.h>

#include "capture/AudioComboItems.h"
#include "capture/DeviceCaption.h"
#include "capture/DeviceNames.h"
#include "capture/PortAudioDevices.h"

TEST(DeviceNames, NormalisationTranslatesFoldsAndBlanks)
{
    EXPECT_EQ(NormalizeDeviceName("Alto-falantes (Realtek High Definition Audio)"),
              "speaker realtek high definition audio");
    EXPECT_EQ(NormalizeDeviceName("Mixagem est\xC3\xA9reo (Realtek High Definition Audio)"),
              "stereo mix realtek high definition audio");
    EXPECT_EQ(NormalizeDeviceName("  Fone de ouvido / Microfone  "), "headphone microphone");
    EXPECT_EQ(NormalizeDeviceName("MISTURA EST\xC3\xA9REO"), "stereo mix");
    EXPECT_EQ(NormalizeDeviceName("Headphones"), "headphone");
    // Lower-case accents fold; an accented capital becomes a blank.
    EXPECT_EQ(NormalizeDeviceName("\xC3\xA1udio cora\xC3\xA7\xC3\xA3o"), "audio coracao");
    EXPECT_EQ(NormalizeDeviceName("\xC3\x81UDIO"), "udio");
    EXPECT_EQ(NormalizeDeviceName("\xC3\x81udio"), "udio");
    EXPECT_EQ(NormalizeDeviceName("a_b--c\t\td"), "a b c d");
    EXPECT_EQ(NormalizeDeviceName("***"), "");
}

TEST(DeviceNames, LoopbackKeywords)
{
    for (const char* name : {"Monitor of Built-in Audio", "Stereo Mix (Realtek)", "What U Hear",
                             "CABLE Output (VB-Audio Virtual Cable)", "VB-Cable", "VoiceMeeter Out",
                             "Loopback", "monitor_test", "WASAPI Loopback input",
                             "Speakers [WASAPI] (input)"})
        EXPECT_TRUE(IsLoopbackDeviceName(name)) << name;
    for (const char* name : {"Microphone", "speakers_test", "default", "WASAPI speakers", ""})
        EXPECT_FALSE(IsLoopbackDeviceName(name)) << name;
}

TEST(DeviceNames, PartnerScores)
{
    // The stereo mix of the same Realtek chip: keyword and two shared words.
    EXPECT_EQ(LoopbackMatchScore("Alto-falantes (Realtek High Definition Audio)",
                                 "Mixagem est\xC3\xA9reo (Realtek High Definition Audio)"),
              150);
    // No keyword: the output's name holds the input's (60) and "realtek".
    EXPECT_EQ(LoopbackMatchScore("Alto-falantes (Realtek Audio)", "Realtek Audio"), 85);
    // Identical names score both containments.
    EXPECT_EQ(LoopbackMatchScore("USB Audio", "USB Audio"), 80 + 60 + 25);
    EXPECT_EQ(LoopbackMatchScore("CABLE Input (VB-Audio Virtual Cable)",
                                 "CABLE Output (VB-Audio Virtual Cable)"),
              100 + 35);
    EXPECT_EQ(LoopbackMatchScore("VoiceMeeter Input", "VoiceMeeter Output"), 100 + 35);
    // An empty normalised name takes part in no comparison.
    EXPECT_EQ(LoopbackMatchScore("***", "Monitor"), 100);
    EXPECT_EQ(LoopbackMatchScore("speakers_test", "monitor_test"), 100);
    EXPECT_EQ(LoopbackMatchScore("speakers_test", "default"), 0);
}

TEST(DeviceCaption, CleansPrefixesBracketAndBlanks)
{
    EXPECT_EQ(CleanDeviceCaption("  Sa\xC3\xAD" "da: Alto-falantes   (Realtek)  "),
              "Alto-falantes (Realtek)");
    EXPECT_EQ(CleanDeviceCaption("sa\xC3\xAD" "da: Fones"), "Fones");
    EXPECT_EQ(CleanDeviceCaption("SA\xC3\x8D" "DA: Fones"), "Fones");
    EXPECT_EQ(CleanDeviceCaption("Sa\xC3\x83\xC2\xAD" "da: Fones"), "Fones");
    EXPECT_EQ(CleanDeviceCaption("SAIDA:Mic Saida: x"), "Mic x");
    // The loopback host API's bracket goes once and only in its own case.
    EXPECT_EQ(CleanDeviceCaption("Entrada: speakers_test  [ALSA]"), "Entrada: speakers_test");
    EXPECT_EQ(CleanDeviceCaption("Entrada: x  [alsa]"), "Entrada: x [alsa]");
    EXPECT_EQ(CleanDeviceCaption("[ALSA] a [ALSA]"), "a [ALSA]");
    EXPECT_EQ(CleanDeviceCaption("Entrada: Mic  [JACK Audio Connection Kit]"),
              "Entrada: Mic [JACK Audio Connection Kit]");
    EXPECT_EQ(CleanDeviceCaption("a    b   c"), "a b c");
}

TEST(AudioComboItems, InputFirstThenLoopbackOfTheLoopbackHostApiOnly)
{
    std::vector<TTavixAudioDevice> devices(4);
    devices[0] = {0, "duplex  card", "ALSA", 2, 2, 44100, KLoopbackHostApiType};
    devices[1] = {3, "Sa\xC3\xAD" "da: jack out", "JACK", 0, 2, 48000, 12};
    devices[2] = {5, "jack mic", "JACK", 1, 0, 48000, 12};
    devices[3] = {6, "lost", "", 1, 2, 48000, -1};
    const auto items = BuildAudioComboItems(devices);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].DeviceIndex, 0);
    EXPECT_EQ(items[0].SourceKind, askInput);
    EXPECT_EQ(items[0].DisplayName, "Entrada: duplex  card  [ALSA]");
    EXPECT_EQ(items[1].DeviceIndex, 0);
    EXPECT_EQ(items[1].SourceKind, askOutputLoopback);
    EXPECT_EQ(items[1].DisplayName, "duplex card");
    EXPECT_EQ(items[2].DisplayName, "Entrada: jack mic  [JACK]");
    EXPECT_EQ(items[3].DeviceIndex, 6);
    EXPECT_EQ(items[3].SourceKind, askInput);
    EXPECT_EQ(items[3].DisplayName, "Entrada: lost  []");

    EXPECT_EQ(FindAudioComboItem(items, 0, askOutputLoopback), 1);
    EXPECT_EQ(FindAudioComboItem(items, 5, askInput), 2);
    EXPECT_EQ(FindAudioComboItem(items, 3, askOutputLoopback), -1);
    EXPECT_EQ(FindAudioComboItem(items, -1, askInput), -1);
    EXPECT_TRUE(BuildAudioComboItems({}).empty());
}

TEST(PortAudioErrorText, LibraryWordingOfAnErrorCode)
{
    EXPECT_EQ(PortAudioErrorText(paInvalidChannelCount), "Invalid number of channels");
    EXPECT_EQ(PortAudioErrorText(paNoError), "Success");
}
