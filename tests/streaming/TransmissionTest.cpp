#include <gtest/gtest.h>

#include "codecs/FdkAac.h"
#include "tests/codecs/CodecTestSupport.h"
#include "platform/Tick.h"
#include "tests/streaming/FakeSourceServer.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/TempDir.h"

namespace {

constexpr double KToneHz = 880.0;
constexpr int KListenMs = 3000;

bool FdkAacMissing(std::string& AWhy)
{
    return !TFdkAacPlusEncoder::IsAvailable(AWhy);
}

// What the source logins carried, without the liveness probes that ask
// the same port on connections of their own.
std::vector<std::string> SourceTranscripts(const FakeSourceServer& AServer)
{
    std::vector<std::string> out;
    for (const std::string& t : AServer.Transcripts())
        if (t.rfind("PUT ", 0) == 0 || t.rfind("SOURCE ", 0) == 0)
            out.push_back(t);
    return out;
}

struct TExpectedStream {
    std::string Codec;
    std::string Profile; // empty: not checked
    int Channels = 2;
    int SampleRate = 44100;
};

// A listener that joins now hears the rig's tone in the expected codec.
void ExpectListenerHearsTone(TWorkerRun& ARun, int APort, const TExpectedStream& AExpected)
{
    // The rig's monitor needs a moment before its first block arrives.
    ASSERT_TRUE(ARun.WaitForBlocks(10, 6000)) << ARun.StatusText();
    TStreamCapture listener(APort, "/stream", KListenMs);
    const TDecodedStream decoded = DecodeStream(listener.Finish(ARun));
    EXPECT_EQ(decoded.Codec, AExpected.Codec);
    if (!AExpected.Profile.empty()) {
        EXPECT_EQ(decoded.Profile, AExpected.Profile);
    }
    EXPECT_EQ(decoded.Channels, AExpected.Channels);
    EXPECT_EQ(decoded.SampleRate, AExpected.SampleRate);
    EXPECT_GT(ToneDominance(decoded.Mono, KToneHz), 10.0) << decoded.Mono.size() << " samples";
}

// Streams the rig's tone with ACodec, has a listener decode it, stops.
void StreamToneAndStop(const TEncoderConfig& AConfig, int AListenPort, const TExpectedStream& AExpected)
{
    PlayRigTone(KToneHz, 30);
    TWorkerRun run(AConfig);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ExpectListenerHearsTone(run, AListenPort, AExpected);
    run.Stop();
    ASSERT_FALSE(run.Statuses().empty());
    EXPECT_EQ(run.Statuses().back().Text, "Parado.") << run.StatusText();
    for (const TStatus& s : run.Statuses())
        EXPECT_FALSE(s.IsError) << run.StatusText();
}

size_t Occurrences(const std::string& AText, const std::string& AWord)
{
    size_t count = 0;
    for (size_t at = AText.find(AWord); at != std::string::npos; at = AText.find(AWord, at + 1))
        ++count;
    return count;
}

// How often the server logged a title change to ATitle.
size_t TitleUpdates(const TIcecastServer& AServer, const std::string& ATitle)
{
    return Occurrences(AServer.ErrorLog(), "changed to \"" + ATitle + "\"");
}

} // namespace

TEST(TransmissionSettings, RefusedInOrderBeforeTheCaptureLibraryStarts)
{
    struct TCase {
        std::string Why;
        void (*Change)(TEncoderConfig&);
        std::string Message;
    };
    const TCase cases[] = {
        {"no host, port or password", [](TEncoderConfig& c) { c.Host = " \t"; c.Port = 0; c.Password = ""; },
         "Configure o host do servidor."},
        {"unsupported codec", [](TEncoderConfig& c) { c.Codec = "audio/wav"; c.Host = ""; },
         "Codec nao suportado neste build."},
        {"no port", [](TEncoderConfig& c) { c.Port = -1; c.Password = ""; }, "Configure a porta do servidor."},
        {"blank password is still a password", [](TEncoderConfig& c) { c.Password = ""; },
         "Configure a senha do servidor."},
        {"no channel", [](TEncoderConfig& c) { c.AudioDeviceIndex = -1; c.ServerType = "SHOUTCAST"; },
         "Selecione um canal de audio."},
        {"Ogg towards SHOUTcast", [](TEncoderConfig& c) { c.ServerType = "ShoutCast"; c.Codec = "application/ogg"; },
         "Ogg Vorbis e Ogg FLAC devem ser usados com Icecast. Para Shoutcast comum, use MP3 ou AAC+."},
        {"Ogg FLAC towards SHOUTcast", [](TEncoderConfig& c) { c.ServerType = "shoutcast"; c.Codec = "AUDIO/FLAC"; },
         "Ogg Vorbis e Ogg FLAC devem ser usados com Icecast. Para Shoutcast comum, use MP3 ou AAC+."},
        {"Ogg Opus towards SHOUTcast", [](TEncoderConfig& c) { c.ServerType = "SHOUTcast"; c.Codec = "Audio/Ogg; Codecs=Opus"; },
         "Ogg Opus deve ser usado com Icecast. Para Shoutcast comum, use MP3 ou AAC+."},
    };
    for (const TCase& tc : cases) {
        TEncoderConfig config;
        DefaultEncoderConfig(config);
        config.Host = "127.0.0.1";
        config.Port = 1;
        config.Password = "x";
        config.Codec = "audio/mpeg";
        // Past the checks this device would be opened and complain.
        config.AudioDeviceIndex = 9999;
        tc.Change(config);
        TWorkerRun run(config);
        ASSERT_TRUE(run.WaitFinished(5000)) << tc.Why;
        ASSERT_EQ(run.Statuses().size(), 1u) << tc.Why << "\n" << run.StatusText();
        EXPECT_EQ(run.Statuses()[0].Text, tc.Message) << tc.Why;
        EXPECT_TRUE(run.Statuses()[0].IsError);
    }
}

TEST(Transmission, Mp3ToIcecastWithCapitalisedCodecAndFiveChannelsStreamsStereo)
{
    TIcecastServer server;
    TEncoderConfig config = StreamConfig("AUDIO/MPEG", server.Port());
    config.Channels = 5;
    StreamToneAndStop(config, server.Port(), {"mp3", ""});
}

// LAME's interleaved call reads two channels whatever the stream has: a mono
// block must take the single-channel path or it is read past its end.
TEST(Transmission, Mp3MonoToIcecast)
{
    TIcecastServer server;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    config.Channels = 1;
    StreamToneAndStop(config, server.Port(), {"mp3", "", 1});
}

TEST(Transmission, OggVorbisToIcecast)
{
    TIcecastServer server;
    StreamToneAndStop(StreamConfig("audio/ogg", server.Port()), server.Port(), {"vorbis", ""});
}

TEST(Transmission, OggFlacToIcecast)
{
    TIcecastServer server;
    StreamToneAndStop(StreamConfig("audio/flac", server.Port()), server.Port(), {"flac", ""});
}

// Opus is heard at its own 48000 Hz, whatever the capture rate.
TEST(Transmission, OggOpusStereoAndMonoToIcecast)
{
    TIcecastServer server;
    StreamToneAndStop(StreamConfig("audio/opus", server.Port()), server.Port(), {"opus", "", 2, 48000});
    TEncoderConfig mono = StreamConfig("audio/ogg; codecs=opus", server.Port());
    mono.Channels = 1;
    StreamToneAndStop(mono, server.Port(), {"opus", "", 1, 48000});
}

TEST(Transmission, AacPlusToIcecastAndToTheShoutcastPort)
{
    std::string why;
    if (FdkAacMissing(why))
        GTEST_SKIP() << why;
    TIcecastServer server;
    TEncoderConfig config = StreamConfig("audio/aacp", server.Port());
    config.Bitrate = 64;
    StreamToneAndStop(config, server.Port(), {"aac", "HE-AAC"});
    config.ServerType = "shoutcast";
    StreamToneAndStop(config, server.Port(), {"aac", "HE-AAC"});
}

TEST(Transmission, Mp3ToTheShoutcastPortWithTitlesThroughAdminCgi)
{
    TIcecastServer server;
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port(), "shoutcast");
    config.NoarPath = dir.File("noar.txt");
    WriteTextFile(config.NoarPath, "Primeira M\xC3\xBAsica\r\n");
    PlayRigTone(KToneHz, 30);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    EXPECT_GE(run.WaitForStatus("Conectado ao servidor de r\xC3\xA1" "dio SHOUTcast na porta " +
                                    std::to_string(server.ShoutcastPort()) + ".", 0), 0)
        << run.StatusText();
    ExpectListenerHearsTone(run, server.Port(), {"mp3", ""});
    EXPECT_TRUE(WaitForTitle(run, server, "Primeira M\xC3\xBAsica", 4000)) << server.StatusJson();
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

TEST(Transmission, TitleChangesReachIcecastOncePerChange)
{
    TIcecastServer server;
    TTempDir dir;
    TEncoderConfig config = StreamConfig("audio/mpeg", server.Port());
    config.NoarPath = dir.File("noar.txt");
    const std::string first = "Primeira Faixa";
    const std::string second = "Can\xC3\xA7\xC3\xA3o N\xC2\xBA 2 \xE2\x80\x93 A\xC3\xA7\xC3\xA3o Parte B";
    WriteTextFile(config.NoarPath, first);
    PlayRigTone(KToneHz, 30);
    TWorkerRun run(config);
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(WaitForTitle(run, server, first, 3000)) << server.StatusJson();

    // A two-line title arrives as one line, accents intact, within ~3 s.
    WriteTextFile(config.NoarPath, "Can\xC3\xA7\xC3\xA3o N\xC2\xBA 2 \xE2\x80\x93 A\xC3\xA7\xC3\xA3o\r\nParte B\r\n");
    const uint64_t changed = GetTickCount64();
    ASSERT_TRUE(WaitForTitle(run, server, second, 4000)) << server.StatusJson();
    EXPECT_LT(GetTickCount64() - changed, 3500u);

    // Emptied, then written back unchanged: no update either time.
    WriteTextFile(config.NoarPath, "");
    run.PumpFor(3000);
    WriteTextFile(config.NoarPath, "Can\xC3\xA7\xC3\xA3o N\xC2\xBA 2 \xE2\x80\x93 A\xC3\xA7\xC3\xA3o Parte B");
    run.PumpFor(3000);
    EXPECT_NE(server.StatusJson().find("\"title\":\"" + second + "\""), std::string::npos);
    EXPECT_EQ(TitleUpdates(server, first), 1u) << server.ErrorLog();
    EXPECT_EQ(TitleUpdates(server, second), 1u) << server.ErrorLog();
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

TEST(Transmission, ReconnectsAfterTheSourceIsDroppedAndAfterAServerRestart)
{
    TIcecastServer server;
    PlayRigTone(KToneHz, 60);
    TWorkerRun run(StreamConfig("audio/ogg", server.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    // Past the first seconds: a login dropped sooner counts as refused.
    run.PumpFor(5500);

    // The server drops the source but stays up: a new stream, new headers.
    size_t mark = run.Statuses().size();
    RunCommand("curl -s -u admin:adminpass " + ShellQuote(server.BaseUrl() + "/admin/killsource?mount=/stream"));
    ASSERT_GE(run.WaitForStatus("Servidor fechou a conexao. Reconectando...", 5000, mark), 0) << run.StatusText();
    ASSERT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 8000, mark), 0) << run.StatusText();
    ExpectListenerHearsTone(run, server.Port(), {"vorbis", ""});
    run.PumpFor(2500);

    // The server goes away for a few seconds.
    mark = run.Statuses().size();
    server.Stop();
    ASSERT_GE(run.WaitForStatus("Servidor fechou a conexao. Reconectando...", 5000, mark), 0) << run.StatusText();
    const int first = run.WaitForStatus("Tentando reconectar ao servidor de radio (1)... (conexao recusada)", 5000, mark);
    const int second = run.WaitForStatus("Tentando reconectar ao servidor de radio (2)... (conexao recusada)", 5000, mark);
    ASSERT_GE(first, 0) << run.StatusText();
    ASSERT_GE(second, 0) << run.StatusText();
    EXPECT_GE(run.Statuses()[second].Tick - run.Statuses()[first].Tick, 3000u);
    server.Start();
    ASSERT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 8000, mark), 0) << run.StatusText();
    ExpectListenerHearsTone(run, server.Port(), {"vorbis", ""});
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

namespace {

// What a listener hears first: the Opus header pages of one logical stream.
uint32_t OpusStreamSerial(const std::string& ABody)
{
    std::string whole = ABody;
    whole.resize(whole.rfind("OggS") == std::string::npos ? 0 : whole.rfind("OggS"));
    std::vector<TOggPage> pages;
    EXPECT_TRUE(ParseOggPages(whole, pages)) << whole.size() << " bytes";
    const auto packets = OggPackets(pages);
    if (pages.empty() || packets.size() < 3) {
        ADD_FAILURE() << "no Opus stream in " << ABody.size() << " bytes";
        return 0;
    }
    EXPECT_EQ(pages[0].HeaderType & 0x02, 0x02);
    EXPECT_EQ(packets[0].compare(0, 8, "OpusHead"), 0);
    EXPECT_EQ(packets[1].compare(0, 8, "OpusTags"), 0);
    return pages[0].Serial;
}

} // namespace

// After the server dropped the source, the new login starts a new Opus
// stream: new header pages under a new serial, decodable from its start.
TEST(Transmission, OggOpusReconnectsWithFreshHeaders)
{
    TIcecastServer server;
    PlayRigTone(KToneHz, 40);
    TWorkerRun run(StreamConfig("audio/opus", server.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(10, 6000)) << run.StatusText();
    TStreamCapture before(server.Port(), "/stream", 1500);
    const uint32_t firstSerial = OpusStreamSerial(before.Finish(run));
    run.PumpFor(4000);

    const size_t mark = run.Statuses().size();
    RunCommand("curl -s -u admin:adminpass " + ShellQuote(server.BaseUrl() + "/admin/killsource?mount=/stream"));
    ASSERT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 8000, mark), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(10, 6000)) << run.StatusText();
    TStreamCapture after(server.Port(), "/stream", KListenMs);
    const std::string body = after.Finish(run);
    EXPECT_NE(OpusStreamSerial(body), firstSerial);
    const TDecodedStream decoded = DecodeStream(body);
    EXPECT_EQ(decoded.Codec, "opus");
    EXPECT_EQ(decoded.SampleRate, 48000);
    EXPECT_GT(ToneDominance(decoded.Mono, KToneHz), 10.0) << decoded.Mono.size() << " samples";
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

TEST(Transmission, ServerDownAtStartThenUp)
{
    TIcecastServer server;
    server.Stop();
    PlayRigTone(KToneHz, 30);
    TWorkerRun run(StreamConfig("audio/ogg", server.Port()));
    ASSERT_GE(run.WaitForStatus("Nao conectou ao servidor de radio. Reconectando...", 10000), 0) << run.StatusText();
    ASSERT_GE(run.WaitForStatus("Tentando reconectar ao servidor de radio (1)... (conexao recusada)", 5000), 0) << run.StatusText();
    server.Start();
    const int back = run.WaitForStatus("Reconectado ao servidor de radio.", 8000);
    ASSERT_GE(back, 0) << run.StatusText();
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 1000, static_cast<size_t>(back)), 0) << run.StatusText();
    ExpectListenerHearsTone(run, server.Port(), {"vorbis", ""});
    run.Stop();
    EXPECT_EQ(run.Statuses().back().Text, "Parado.");
}

TEST(Transmission, StopDuringTheRetryPauseEndsPromptly)
{
    TWorkerRun run(StreamConfig("audio/mpeg", FreeLoopbackPort()));
    ASSERT_GE(run.WaitForStatus("Tentando reconectar ao servidor de radio (1)... (conexao recusada)", 10000), 0) << run.StatusText();
    run.PumpFor(800);
    EXPECT_LE(run.Stop(), 250u);
    EXPECT_EQ(run.Statuses().back().Text, "Parado.") << run.StatusText();
}


TEST(Transmission, OggHeadersGoOutExactlyOnceWhenOnlyTheRetryLogsIn)
{
    // FakeSourceServer: shows the bytes a source sends, which icecast2 hides.
    // It refuses PUT and SOURCE, then takes the retry's PUT.
    FakeSourceServer server({{"HTTP/1.0 403 Forbidden\r\n\r\n", "HTTP/1.0 403 Forbidden\r\n\r\n",
                              "HTTP/1.0 200 OK\r\n\r\n"}});
    PlayRigTone(KToneHz, 30);
    TWorkerRun run(StreamConfig("audio/ogg", server.Port()));
    ASSERT_GE(run.WaitForStatus("Reconectado ao servidor de radio.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(50, 8000));
    run.Stop();
    const auto transcripts = SourceTranscripts(server);
    ASSERT_EQ(transcripts.size(), 3u) << run.StatusText();
    const std::string& streamed = transcripts[2];
    const size_t body = streamed.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(streamed.compare(body + 4, 4, "OggS"), 0) << "headers first";
    EXPECT_EQ(Occurrences(streamed, "\x01vorbis"), 1u);
    EXPECT_EQ(Occurrences(streamed, "\x03vorbis"), 1u);
    EXPECT_GE(Occurrences(streamed, "OggS"), 3u) << "audio pages follow the two header pages";
}

// Opus logs in as Ogg, so icecast2 pages it as Ogg, and its two header
// pages open what it sends.
TEST(Transmission, OggOpusLogsInAsOggAndSendsItsHeadersFirst)
{
    FakeSourceServer server({{"HTTP/1.0 200 OK\r\n\r\n"}});
    PlayRigTone(KToneHz, 30);
    TWorkerRun run(StreamConfig("audio/opus", server.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    ASSERT_TRUE(run.WaitForBlocks(50, 8000));
    run.Stop();
    const auto transcripts = SourceTranscripts(server);
    ASSERT_EQ(transcripts.size(), 1u) << run.StatusText();
    const std::string& streamed = transcripts[0];
    const size_t body = streamed.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_NE(streamed.substr(0, body).find("Content-Type: audio/ogg\r\n"), std::string::npos)
        << streamed.substr(0, body);
    ASSERT_EQ(streamed.compare(body + 4, 4, "OggS"), 0) << "headers first";
    std::vector<TOggPage> pages;
    std::string whole = streamed.substr(body + 4);
    whole.resize(whole.rfind("OggS"));
    ASSERT_TRUE(ParseOggPages(whole, pages));
    const auto packets = OggPackets(pages);
    ASSERT_GT(packets.size(), 10u);
    EXPECT_EQ(packets[0].compare(0, 8, "OpusHead"), 0);
    EXPECT_EQ(packets[1].compare(0, 8, "OpusTags"), 0);
    EXPECT_EQ(Occurrences(streamed, "OpusHead"), 1u);
    EXPECT_EQ(Occurrences(streamed, "OpusTags"), 1u);
}
