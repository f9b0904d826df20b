#include <gtest/gtest.h>

#include "capture/CaptureChannel.h"
#include "capture/LoopbackSearch.h"
#include "tests/capture/DeviceTable.h"

namespace {

constexpr int32_t KOtherApi = 12;

const std::string KNoPartner =
    "N\xC3\xA3o encontrou entrada de retorno para a sa\xC3\xAD" "da selecionada. Ative Mixagem "
    "est\xC3\xA9reo/loopback desse dispositivo ou selecione uma entrada de retorno equivalente.";

TEncoderConfig Channel(int AIndex, TAudioSourceKind AKind, int AChannels = 2, int ARate = 44100)
{
    TEncoderConfig cfg;
    cfg.AudioDeviceIndex = AIndex;
    cfg.AudioSourceKind = AKind;
    cfg.Channels = AChannels;
    cfg.SampleRate = ARate;
    return cfg;
}

} // namespace

TEST(LoopbackSearch, BestScoreAmongLoopbackHostInputsLowerIndexOnTies)
{
    TDeviceTable devices;
    devices.Add(0, "Speakers", 0, 2)
        .Add(1, "Monitor of Speakers", 2, 0, KOtherApi) // perfect name, wrong host API
        .Add(2, "Microphone", 2, 0)
        .Add(3, "Monitor of Card A", 2, 0)
        .Add(5, "Monitor of Card B", 2, 0);
    int partner = 99;
    std::string name = "x";
    EXPECT_TRUE(FindLoopbackInput(devices, 0, partner, name));
    EXPECT_EQ(partner, 3);
    EXPECT_EQ(name, "Monitor of Card A");

    // Without host-API information an input still qualifies.
    devices.Add(1, "Monitor of Speakers", 2, 0, -1);
    EXPECT_TRUE(FindLoopbackInput(devices, 0, partner, name));
    EXPECT_EQ(partner, 1);
}

TEST(LoopbackSearch, RealtekStereoMixFoundButEightyFiveIsNot)
{
    TDeviceTable realtek;
    realtek.Add(0, "Microfone (Realtek High Definition Audio)", 2, 0)
        .Add(1, "Mixagem est\xC3\xA9reo (Realtek High Definition Audio)", 2, 0)
        .Add(2, "Alto-falantes (Realtek High Definition Audio)", 0, 2);
    int partner = -1;
    std::string name;
    EXPECT_TRUE(FindLoopbackInput(realtek, 2, partner, name));
    EXPECT_EQ(partner, 1);

    TDeviceTable weak;
    weak.Add(0, "Alto-falantes (Realtek Audio)", 0, 2).Add(1, "Realtek Audio", 2, 0);
    EXPECT_FALSE(FindLoopbackInput(weak, 0, partner, name));
    EXPECT_EQ(partner, 1) << "the best candidate stays recorded";
    EXPECT_EQ(name, "Realtek Audio");
}

TEST(LoopbackSearch, DuplexOutputIsNeverItsOwnPartner)
{
    TDeviceTable devices;
    devices.Add(0, "Loopback duplex", 2, 2);
    int partner = 7;
    std::string name = "x";
    EXPECT_FALSE(FindLoopbackInput(devices, 0, partner, name));
    EXPECT_EQ(partner, -1);
    EXPECT_EQ(name, "");
    EXPECT_FALSE(FindLoopbackInput(devices, 4, partner, name)) << "unknown output";
}

TEST(CaptureChannel, CandidateCounts)
{
    using V = std::vector<int>;
    EXPECT_EQ(CaptureChannelCandidates(2, 2), (V{2, 1}));
    EXPECT_EQ(CaptureChannelCandidates(1, 8), (V{1, 2, 8, 4}));
    EXPECT_EQ(CaptureChannelCandidates(2, 1), (V{1}));
    EXPECT_EQ(CaptureChannelCandidates(0, 32), (V{1, 2, 32, 4, 8}));
    EXPECT_EQ(CaptureChannelCandidates(-3, 0), (V{1}));
    EXPECT_EQ(CaptureChannelCandidates(2, 6), (V{2, 1, 6, 4}));
}

TEST(CaptureChannel, RefusalsWithTheirMessages)
{
    TDeviceTable devices;
    devices.Add(0, "Speakers", 0, 2)
        .Add(1, "Mic", 1, 0)
        .Add(2, "Other speakers", 0, 2, KOtherApi)
        .Add(3, "Lost speakers", 0, 2, -1)
        .Add(4, "Realtek Audio", 2, 0);
    const auto refusal = [&](const TEncoderConfig& cfg) {
        const TCaptureChannelPlan plan = ResolveCaptureChannel(devices, cfg);
        EXPECT_EQ(plan.DeviceIndex, -1);
        EXPECT_TRUE(plan.ChannelCandidates.empty());
        return plan.Error;
    };
    EXPECT_EQ(refusal(Channel(9, askInput)), "Canal de \xC3\xA1udio inv\xC3\xA1lido.");
    EXPECT_EQ(refusal(Channel(-1, askOutputLoopback)), "Canal de \xC3\xA1udio inv\xC3\xA1lido.");
    EXPECT_EQ(refusal(Channel(0, askInput)),
              "O canal selecionado n\xC3\xA3o \xC3\xA9 uma entrada de \xC3\xA1udio.");
    const std::string notLoopbackApi =
        "Selecione uma sa\xC3\xAD" "da Windows WASAPI para capturar o retorno do \xC3\xA1udio.";
    EXPECT_EQ(refusal(Channel(2, askOutputLoopback)), notLoopbackApi);
    EXPECT_EQ(refusal(Channel(3, askOutputLoopback)), notLoopbackApi);
    EXPECT_EQ(refusal(Channel(1, askOutputLoopback)),
              "O canal selecionado n\xC3\xA3o \xC3\xA9 uma sa\xC3\xAD" "da de \xC3\xA1udio.");
    EXPECT_EQ(refusal(Channel(0, askOutputLoopback)), KNoPartner);
}

TEST(CaptureChannel, InputPlan)
{
    TDeviceTable devices;
    devices.Add(0, "Mic", 1, 0, KLoopbackHostApiType, 48000, 0.05)
        .Add(1, "Line", 8, 0, KOtherApi, 48000, 0.2);
    // Six channels are asked as two; a mono device then opens with one.
    TCaptureChannelPlan plan = ResolveCaptureChannel(devices, Channel(0, askInput, 6, 44100));
    EXPECT_EQ(plan.Error, "");
    EXPECT_FALSE(plan.Loopback);
    EXPECT_EQ(plan.DeviceIndex, 0);
    EXPECT_EQ(plan.SampleRate, 44100) << "an input keeps the configured rate";
    EXPECT_DOUBLE_EQ(plan.SuggestedLatency, 0.08);
    EXPECT_EQ(plan.ChannelCandidates, std::vector<int>{1});

    plan = ResolveCaptureChannel(devices, Channel(1, askInput, 1));
    EXPECT_EQ(plan.DeviceIndex, 1) << "inputs of any host API";
    EXPECT_DOUBLE_EQ(plan.SuggestedLatency, 0.2);
    EXPECT_EQ(plan.ChannelCandidates, (std::vector<int>{1, 2, 8, 4}));
}

TEST(CaptureChannel, LoopbackPlanTakesThePartnersRate)
{
    TDeviceTable devices;
    devices.Add(0, "Speakers", 0, 2)
        .Add(1, "Monitor of Speakers", 2, 0, KLoopbackHostApiType, 48000.4, 0.02);
    TCaptureChannelPlan plan = ResolveCaptureChannel(devices, Channel(0, askOutputLoopback));
    EXPECT_EQ(plan.Error, "");
    EXPECT_TRUE(plan.Loopback);
    EXPECT_EQ(plan.DeviceIndex, 1);
    EXPECT_EQ(plan.PartnerName, "Monitor of Speakers");
    EXPECT_EQ(plan.SampleRate, 48000);
    EXPECT_DOUBLE_EQ(plan.SuggestedLatency, 0.12);
    EXPECT_EQ(plan.ChannelCandidates, (std::vector<int>{2, 1}));

    // A rate outside 8000..192000 leaves the configured one.
    for (const double rate : {7999.0, 192001.0, 0.0}) {
        devices.Add(1, "Monitor of Speakers", 2, 0, KLoopbackHostApiType, rate, 0.3);
        plan = ResolveCaptureChannel(devices, Channel(0, askOutputLoopback, 2, 22050));
        EXPECT_EQ(plan.SampleRate, 22050) << rate;
        EXPECT_DOUBLE_EQ(plan.SuggestedLatency, 0.3);
    }
    devices.Add(1, "Monitor of Speakers", 2, 0, KLoopbackHostApiType, 192000.0);
    EXPECT_EQ(ResolveCaptureChannel(devices, Channel(0, askOutputLoopback)).SampleRate, 192000);
}
