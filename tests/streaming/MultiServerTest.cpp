#include <gtest/gtest.h>

#include <iostream>

#include "codecs/FdkAac.h"
#include "platform/Tick.h"
#include "tests/streaming/HoldingProxy.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// Several servers take the same programme; each fails and comes back on
// its own, and none holds up another.

namespace {

constexpr double KToneHz = 880.0;
constexpr int KRate = 44100;
const std::string KOnAir = "Transmitindo.";
const std::string KBack = "Reconectado ao servidor de radio.";

void AddServer(TEncoderConfig& AConfig, int AServer, const std::string& ACodec, int APort, int ABitrate)
{
    TServerRecord& s = AConfig.ExtraServers[static_cast<size_t>(AServer - 2)];
    s.Enabled = true;
    s.ServerType = "icecast";
    s.Host = "127.0.0.1";
    s.Port = APort;
    s.Mount = "/stream";
    s.UserName = "";
    s.Password = "hackme";
    s.Codec = ACodec;
    s.Bitrate = ABitrate;
    s.Channels = 2;
}

// HE-AAC where the non-free library is here, else Ogg Vorbis.
std::string PhoneCodec()
{
    std::string why;
    if (TFdkAacPlusEncoder::IsAvailable(why))
        return "audio/aacp";
    std::cout << "server 2 streams Ogg Vorbis: " << why << "\n";
    return "audio/ogg";
}

std::string ProbedName(const std::string& ACodec)
{
    return ACodec == "audio/aacp" ? "aac" : ACodec == "audio/ogg" ? "vorbis" : "mp3";
}

testing::AssertionResult HearsTone(TWorkerRun& ARun, int APort, const std::string& ACodec)
{
    TStreamCapture listener(APort, "/stream", 3000);
    const std::string body = listener.Finish(ARun);
    if (body.size() < 4000)
        return testing::AssertionFailure() << "only " << body.size() << " bytes heard";
    const TDecodedStream d = DecodeStream(body);
    const double dominance = ToneDominance(d.Mono, KToneHz);
    if (d.Codec != ProbedName(ACodec) || dominance < 10.0)
        return testing::AssertionFailure() << d.Codec << ", tone dominance " << dominance;
    return testing::AssertionSuccess();
}

bool AnyContains(const std::vector<TStatus>& AStatuses, const std::string& AText, size_t AFrom = 0)
{
    for (size_t i = AFrom; i < AStatuses.size(); ++i)
        if (AStatuses[i].Text.find(AText) != std::string::npos)
            return true;
    return false;
}

std::string Errors(const std::vector<TStatus>& AStatuses, size_t AFrom = 0)
{
    std::string out;
    for (size_t i = AFrom; i < AStatuses.size(); ++i)
        if (AStatuses[i].IsError)
            out += AStatuses[i].Text + "\n";
    return out;
}

} // namespace

TEST(MultiServer, EachServerHasItsCodecAndTitlesAndOneAwayCostsTheOtherNothing)
{
    TIcecastServer main, phones;
    TTempDir dir;
    PlayRigTone(KToneHz, 80);
    TEncoderConfig config = StreamConfig("audio/mpeg", main.Port());
    config.Bitrate = 128;
    UseNowPlaying(config, dir, "Faixa de abertura");
    const std::string phoneCodec = PhoneCodec();
    AddServer(config, 2, phoneCodec, phones.Port(), phoneCodec == "audio/aacp" ? 48 : 64);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus(KOnAir, 20000), 0) << run.StatusText();
    ASSERT_GE(run.WaitForServerStatus(2, KOnAir, 20000), 0) << run.ServerStatusText(2);
    run.PumpFor(1500);
    EXPECT_TRUE(HearsTone(run, main.Port(), "audio/mpeg"));
    EXPECT_TRUE(HearsTone(run, phones.Port(), phoneCodec));
    EXPECT_TRUE(WaitForTitle(run, main, "Faixa de abertura", 15000)) << main.StatusJson();
    EXPECT_TRUE(WaitForTitle(run, phones, "Faixa de abertura", 15000)) << phones.StatusJson();

    const size_t mark1 = run.Statuses().size(), mark2 = run.ServerStatuses(2).size();
    TStreamCapture listener(main.Port(), "/stream", 26000);
    run.PumpFor(3000);
    phones.Stop();
    const uint64_t away = GetTickCount64();
    run.PumpFor(20000);
    const uint64_t back = GetTickCount64();
    phones.Start();
    const std::string heard = listener.Finish(run);
    // The main server's listener got the stream at its rate all along.
    EXPECT_GE(listener.BytesBetween(away, back), uint64_t{20 * 128000 / 8 * 85 / 100});
    const TDecodedStream d = DecodeStream(heard);
    EXPECT_EQ(d.Codec, "mp3");
    EXPECT_GE(double(d.Mono.size()) / KRate, 25.0) << "a gap in what the listener heard";
    EXPECT_EQ(FirstSecondWithoutTone(d.Mono, KToneHz), -1) << "silence in what the listener heard";
    EXPECT_EQ(Errors(run.Statuses(), mark1), "") << "server 1 never noticed server 2's loss";

    EXPECT_TRUE(AnyContains(run.ServerStatuses(2), "Reconectando...", mark2)) << run.ServerStatusText(2);
    EXPECT_TRUE(AnyContains(run.ServerStatuses(2), "Tentando reconectar ao servidor de radio (", mark2))
        << run.ServerStatusText(2);
    ASSERT_GE(run.WaitForServerStatus(2, KBack, 30000, mark2), 0) << run.ServerStatusText(2);
    run.PumpFor(1500);
    EXPECT_TRUE(HearsTone(run, phones.Port(), phoneCodec));
    EXPECT_TRUE(WaitForTitle(run, phones, "Faixa de abertura", 15000)) << "the title is back on server 2";
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
    EXPECT_EQ(run.ServerStatuses(2).back().Text, "Parado.");
}

TEST(MultiServer, AStalledServerNeverHoldsUpTheOther)
{
    TIcecastServer main, backup;
    THoldingProxy path(backup.Port());
    PlayRigTone(KToneHz, 60);
    TEncoderConfig config = StreamConfig("audio/mpeg", main.Port());
    config.Bitrate = 128;
    AddServer(config, 2, "audio/mpeg", path.Port(), 128);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus(KOnAir, 10000), 0) << run.StatusText();
    ASSERT_GE(run.WaitForServerStatus(2, KOnAir, 10000), 0) << run.ServerStatusText(2);
    run.PumpFor(1000);

    const size_t mark1 = run.Statuses().size(), mark2 = run.ServerStatuses(2).size();
    TStreamCapture listener(main.Port(), "/stream", 16000);
    run.PumpFor(2000);
    path.Hold(true);
    const uint64_t held = GetTickCount64();
    run.PumpFor(12000);
    const uint64_t released = GetTickCount64();
    path.Hold(false);
    listener.Finish(run);
    EXPECT_GE(listener.BytesBetween(held, released), uint64_t{12 * 128000 / 8 * 85 / 100})
        << "server 1's listener was starved while server 2 stalled";
    EXPECT_EQ(Errors(run.Statuses(), mark1), "");
    EXPECT_TRUE(AnyContains(run.ServerStatuses(2), "Servidor fechou a conexao. Reconectando...", mark2))
        << run.ServerStatusText(2);
    // The relay serves its connections on one thread: it frees itself of
    // the held one only once icecast2 gives up that source.
    EXPECT_GE(run.WaitForServerStatus(2, KBack, 30000, mark2), 0) << run.ServerStatusText(2);
    run.Stop();
}

TEST(MultiServer, AWrongPasswordOnServer2ShowsOnServer2Only)
{
    TIcecastServer main, backup;
    PlayRigTone(KToneHz, 30);
    TEncoderConfig config = StreamConfig("audio/mpeg", main.Port());
    AddServer(config, 2, "audio/mpeg", backup.Port(), 128);
    config.ExtraServers[0].Password = "errada";
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus(KOnAir, 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitUntil([&] { return AnyContains(run.ServerStatuses(2), "senha recusada"); }, 10000))
        << run.ServerStatusText(2);
    run.PumpFor(1000);
    EXPECT_TRUE(HearsTone(run, main.Port(), "audio/mpeg"));
    EXPECT_EQ(Errors(run.Statuses()), "");
    EXPECT_FALSE(AnyContains(run.Statuses(), "senha"));
    run.Stop();
}

TEST(MultiServer, AServerWhoseSettingsCannotStreamSaysWhyAndTheOthersGoOn)
{
    TIcecastServer main;
    PlayRigTone(KToneHz, 20);
    TEncoderConfig config = StreamConfig("audio/mpeg", main.Port());
    AddServer(config, 3, "audio/mpeg", main.Port(), 128);
    config.ExtraServers[1].Host = " ";
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus(KOnAir, 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitUntil([&] { return !run.ServerStatuses(3).empty(); }, 5000));
    EXPECT_EQ(run.ServerStatuses(3).front().Text, "Configure o host do servidor.");
    EXPECT_TRUE(run.ServerStatuses(3).front().IsError);
    EXPECT_TRUE(run.ServerStatuses(2).empty()) << "a server that is not enabled says nothing";
    run.PumpFor(1000);
    EXPECT_TRUE(HearsTone(run, main.Port(), "audio/mpeg"));
    run.Stop();
    EXPECT_EQ(run.ServerStatuses(3).size(), 1u) << run.ServerStatusText(3);
}
