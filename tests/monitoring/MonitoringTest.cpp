#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "monitoring/AlarmActions.h"
#include "monitoring/IcyMetadata.h"
#include "monitoring/ListenerFetch.h"
#include "monitoring/ListenerEar.h"
#include "monitoring/SilenceDetector.h"
#include "settings/EncoderConfig.h"
#include "tests/monitoring/HookServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

namespace {

std::string IcyStream(size_t AMetaInt, const std::string& AAudio, const std::vector<std::string>& ABlocks)
{
    // Audio in runs of AMetaInt, each followed by the next metadata block
    // (or an empty one once they run out).
    std::string out;
    size_t block = 0;
    for (size_t at = 0; at < AAudio.size(); at += AMetaInt) {
        out += AAudio.substr(at, AMetaInt);
        if (at + AMetaInt > AAudio.size())
            break;
        std::string meta = block < ABlocks.size() ? ABlocks[block++] : "";
        meta.resize((meta.size() + 15) / 16 * 16, '\0');
        out += static_cast<char>(meta.size() / 16);
        out += meta;
    }
    return out;
}

} // namespace

TEST(SilenceDetector, RaisesAfterTheSetTimeOfQuietAndClearsAtTheFirstSound)
{
    TSilenceDetector d(-50, 2, 1000);
    const float quiet = 0.003f; // -50.5 dBFS
    const float sound = 0.0032f; // -49.9 dBFS
    EXPECT_FALSE(d.IsSound(quiet));
    EXPECT_TRUE(d.IsSound(sound));
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(d.Feed(quiet, 100), TSilenceDetector::TChange::None) << i;
    // One sound block starts the count again.
    EXPECT_EQ(d.Feed(sound, 100), TSilenceDetector::TChange::None);
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(d.Feed(0.0f, 100), TSilenceDetector::TChange::None) << i;
    EXPECT_EQ(d.Feed(0.0f, 100), TSilenceDetector::TChange::Raised);
    EXPECT_TRUE(d.Raised());
    EXPECT_EQ(d.Feed(0.0f, 100000), TSilenceDetector::TChange::None) << "raised once";
    EXPECT_EQ(d.Feed(0.5f, 100), TSilenceDetector::TChange::Cleared);
    EXPECT_EQ(d.Feed(0.5f, 100), TSilenceDetector::TChange::None);
    EXPECT_FALSE(d.Raised());
}

TEST(SilenceDetector, NonsenseSettingsStillGiveAWorkingAlarm)
{
    TSilenceDetector d(40, -5, 0); // clamped: 0 dBFS, one second, one frame a second
    EXPECT_EQ(d.ThresholdDb(), 0);
    EXPECT_EQ(d.Seconds(), 1) << "the alarm's text tells the time used";
    EXPECT_FALSE(d.IsSound(0.99f));
    EXPECT_EQ(d.Feed(0.5f, 1), TSilenceDetector::TChange::Raised);
    EXPECT_EQ(TSilenceDetector(-500, 999999999, 44100).Seconds(), 86400) << "a day at most, not never";
    EXPECT_EQ(TSilenceDetector(-500, 20, 44100).ThresholdDb(), -120);
}

TEST(ProgrammeLevel, SoundSinceOnlyWhenNoQuietBlockCameAfter)
{
    TProgrammeLevel level;
    EXPECT_FALSE(level.SoundSince(100)) << "nothing seen yet";
    level.Note(true, 1000);
    level.Note(true, 2000);
    EXPECT_TRUE(level.SoundSince(1500));
    EXPECT_FALSE(level.SoundSince(500)) << "sound began later";
    level.Note(false, 3000);
    EXPECT_FALSE(level.SoundSince(1500));
    level.Note(true, 4000);
    level.Note(true, 5000);
    EXPECT_TRUE(level.SoundSince(4500));
    EXPECT_FALSE(level.SoundSince(3500));
}

TEST(IcyReader, SplitsAudioFromTitlesWhateverTheChunks)
{
    std::string audio;
    for (int i = 0; i < 1000; ++i)
        audio += static_cast<char>(i * 7);
    const std::string wire = IcyStream(100, audio,
                                       {"StreamTitle='Primeira';", "", "StreamTitle='Rock 'n' Roll - Ao Vivo';StreamUrl='';"});
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{100}, size_t{101}, wire.size()}) {
        TIcyReader reader(100);
        std::string out;
        for (size_t at = 0; at < wire.size(); at += chunk)
            reader.Feed(std::string_view(wire).substr(at, chunk), out);
        EXPECT_EQ(out, audio) << "chunks of " << chunk;
        EXPECT_TRUE(reader.HasTitle());
        EXPECT_EQ(reader.Title(), "Rock 'n' Roll - Ao Vivo") << "chunks of " << chunk;
    }
    TIcyReader plain(0);
    std::string out;
    plain.Feed(wire, out);
    EXPECT_EQ(out, wire) << "no metadata interval: all of it is audio";
    EXPECT_FALSE(plain.HasTitle());
}

TEST(IcyReader, BlocksWithoutATitleKeepTheLastOne)
{
    std::string title;
    EXPECT_FALSE(ParseStreamTitle("StreamUrl='x';", title));
    EXPECT_TRUE(ParseStreamTitle(std::string("StreamTitle='';\0\0\0", 18), title));
    EXPECT_EQ(title, "");
    EXPECT_FALSE(ParseStreamTitle(std::string("StreamTitle='Sem fim\0\0", 22), title)) << "cut short";
    EXPECT_EQ(title, "");
}

// A server sending as fast as it can gave one check a gigabyte: what is
// kept is capped, and the check ends there instead of listening on.
TEST(ListenTo, AServerSendingAsFastAsItCanIsCutAtTheCap)
{
    httplib::Server server;
    server.Get("/fast", [](const httplib::Request&, httplib::Response& AResponse) {
        AResponse.set_chunked_content_provider("audio/mpeg", [](size_t, httplib::DataSink& ASink) {
            static const std::string chunk(65536, 'x');
            return ASink.write(chunk.data(), chunk.size());
        });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&server] { server.listen_after_bind(); });
    const size_t cap = ListeningCap(128, 4000);
    EXPECT_EQ(cap, 4u * 128 * 125 * 4 + 65536);
    EXPECT_EQ(ListeningCap(0, 60000), 16u << 20) << "lossless, capped at 16 MiB";
    std::atomic<bool> stop{false};
    const auto start = std::chrono::steady_clock::now();
    const TListened heard =
        ListenTo("http://127.0.0.1:" + std::to_string(port) + "/fast", false, 4000, stop, nullptr, cap);
    const auto took = std::chrono::steady_clock::now() - start;
    server.stop();
    serving.join();
    EXPECT_EQ(heard.Error, "");
    EXPECT_GE(heard.Audio.size(), cap);
    EXPECT_LE(heard.Audio.size(), cap + 65536);
    EXPECT_LT(took, std::chrono::seconds(2)) << "ended at the cap, not after the listening time";
}

TEST(JudgeListening, TellsEachWayAListenerCanBeLetDown)
{
    TEarExpectations mp3;
    mp3.Kind = TCodecKind::Mp3;
    mp3.BitrateKbps = 128;
    mp3.ProgrammeSound = true;
    mp3.SilencePeak = 0.00316f; // -50 dBFS
    mp3.Title = "Artista - Faixa";
    TListened heard;
    heard.Seconds = 4;
    heard.Audio.assign(4 * 16000, 'x');
    heard.HasIcyTitle = true;
    heard.IcyTitle = "Artista - Faixa";
    TDecodedSample decoded;
    decoded.Seconds = 6;
    decoded.Peak = 0.4f;

    TEarFindings f = JudgeListening(heard, decoded, mp3);
    EXPECT_FALSE(f.NoAudio || f.Silent || f.TitleDiffers) << f.NoAudioWhy;

    TListened refused = heard;
    refused.Error = "HTTP 404";
    f = JudgeListening(refused, decoded, mp3);
    EXPECT_TRUE(f.NoAudio);
    EXPECT_EQ(f.NoAudioWhy, "HTTP 404");

    TListened nothing = heard;
    nothing.Audio.clear();
    EXPECT_TRUE(JudgeListening(nothing, decoded, mp3).NoAudio);
    TListened trickle = heard;
    trickle.Audio.resize(4 * 16000 / 5);
    EXPECT_TRUE(JudgeListening(trickle, decoded, mp3).NoAudio) << "a fifth of the bitrate";
    TListened capped = heard;
    capped.Audio.resize(4 * 16000 / 3);
    EXPECT_FALSE(JudgeListening(capped, decoded, mp3).NoAudio) << "an encoder may stay below what was asked";
    TDecodedSample garbage;
    garbage.Error = "nada decodificou";
    f = JudgeListening(heard, garbage, mp3);
    EXPECT_TRUE(f.NoAudio);
    EXPECT_EQ(f.NoAudioWhy, "nada decodificou");

    TDecodedSample silent = decoded;
    silent.Peak = 0.0008f; // the keep-alive tone's level
    EXPECT_TRUE(JudgeListening(heard, silent, mp3).Silent);
    TEarExpectations quietProgramme = mp3;
    quietProgramme.ProgrammeSound = false;
    EXPECT_FALSE(JudgeListening(heard, silent, quietProgramme).Silent) << "silence on air is the programme's";
    TDecodedSample soft = decoded;
    soft.Peak = 0.002f; // a soft passage near the threshold
    EXPECT_FALSE(JudgeListening(heard, soft, mp3).Silent);

    TListened other = heard;
    other.IcyTitle = "Outro titulo";
    f = JudgeListening(other, decoded, mp3);
    EXPECT_TRUE(f.TitleDiffers);
    EXPECT_EQ(f.HeardTitle, "Outro titulo");
    TListened noIcy = other;
    noIcy.HasIcyTitle = false;
    EXPECT_FALSE(JudgeListening(noIcy, decoded, mp3).TitleDiffers) << "a relay without ICY titles";
    TEarExpectations noTitle = mp3;
    noTitle.Title.clear();
    EXPECT_FALSE(JudgeListening(other, decoded, noTitle).TitleDiffers) << "no title sent yet";

    TEarExpectations flac = mp3;
    flac.Kind = TCodecKind::OggFlac;
    decoded.Title = "Artista - Faixa";
    EXPECT_FALSE(JudgeListening(trickle, decoded, flac).NoAudio) << "FLAC has no set bitrate";
    decoded.Title = "Outra";
    EXPECT_TRUE(JudgeListening(heard, decoded, flac).TitleDiffers) << "Ogg titles come from the stream";
    flac.DecoderMissing = true;
    EXPECT_FALSE(JudgeListening(heard, garbage, flac).NoAudio) << "no decoder: the bytes alone";
    EXPECT_FALSE(JudgeListening(heard, silent, flac).Silent);
}

TEST(ListeningAddress, TheServersOwnUnlessAnotherIsSet)
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.Host = " radio.example ";
    c.Port = 8000;
    c.Mount = "live";
    EXPECT_EQ(ListeningAddress(c), "http://radio.example:8000/live");
    c.UseTls = true;
    EXPECT_EQ(ListeningAddress(c), "https://radio.example:8000/live");
    c.ServerType = "shoutcast";
    c.UseTls = false;
    EXPECT_EQ(ListeningAddress(c), "http://radio.example:8000/");
    c.ListenUrl = " http://relay.example/radio.mp3 ";
    EXPECT_EQ(ListeningAddress(c), "http://relay.example/radio.mp3");
    c.ListenUrl = "";
    c.ServerType = "icecast";
    c.Mount = " ";
    EXPECT_EQ(ListeningAddress(c), "http://radio.example:8000/stream") << "the mount the source logs in to";
}

TEST(AlarmActions, WebhookAddressCarriesTheEvent)
{
    const TAlarm a{2, TAlarmKind::SilentStream, true, "x"};
    EXPECT_EQ(WebhookAddress("http://h/hook", "Rádio & Cia", a),
              "http://h/hook?station=R%C3%A1dio+%26+Cia&event=silent_stream&state=raised&server=2");
    const TAlarm b{0, TAlarmKind::Silence, false, "x"};
    EXPECT_EQ(WebhookAddress("http://h/hook?key=1#top", "R", b),
              "http://h/hook?key=1&station=R&event=silence&state=cleared&server=0");
    // What the operator put in the address stays, once.
    EXPECT_EQ(WebhookAddress("http://h/hook?station=kxyz&token=s", "R", b),
              "http://h/hook?station=kxyz&token=s&event=silence&state=cleared&server=0");
    EXPECT_EQ(WebhookAddress("http://h/hook?", "R", b), "http://h/hook?station=R&event=silence&state=cleared&server=0");
    EXPECT_EQ(WebhookAddress("http://h/hook?stationx=1&", "R", b),
              "http://h/hook?stationx=1&station=R&event=silence&state=cleared&server=0");
}

namespace {

struct TNotices {
    std::mutex Lock;
    std::vector<TAlarm> Seen;
    std::function<void(const TAlarm&)> Sink()
    {
        return [this](const TAlarm& AAlarm) {
            const std::lock_guard<std::mutex> guard(Lock);
            Seen.push_back(AAlarm);
        };
    }
    size_t Count()
    {
        const std::lock_guard<std::mutex> guard(Lock);
        return Seen.size();
    }
};

std::string ReadAll(const std::string& APath)
{
    std::ifstream in(APath);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

// Only http and https are fetched: anything else is told once at the start
// and left out, not tried at every alarm or check.
TEST(AlarmActions, AddressesThatCannotBeFetchedAreToldOnceAtTheStart)
{
    TNotices notices;
    {
        TAlarmActions actions(" ftp://h/hook ", "", "R", notices.Sink());
        EXPECT_FALSE(actions.Active());
        actions.Take({0, TAlarmKind::Silence, true, "x"});
    }
    ASSERT_EQ(notices.Count(), 1u);
    EXPECT_EQ(notices.Seen[0].Kind, TAlarmKind::ActionFailed);
    EXPECT_EQ(notices.Seen[0].Text,
              "Webhook do alarme ignorado: o endereco deve comecar com http:// ou https:// (ftp://h/hook).");

    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.Host = "127.0.0.1";
    c.ListenUrl = "file:///etc/passwd";
    TProgrammeLevel level;
    TNotices heard;
    {
        const TListenerEar ear(c, 2, level, 0.001f, [] { return TOnAirState{}; }, heard.Sink());
    }
    ASSERT_EQ(heard.Count(), 1u);
    EXPECT_EQ(heard.Seen[0].Kind, TAlarmKind::CheckOff);
    EXPECT_EQ(heard.Seen[0].Server, 2);
    EXPECT_EQ(heard.Seen[0].Text, "Verificacao dos ouvintes desligada: o endereco de escuta deve comecar com http:// "
                                  "ou https:// (file:///etc/passwd).");
}

TEST(AlarmActions, EachEventFetchesTheHookOnceAndRunsTheCommand)
{
    THookServer hook;
    TTempDir dir;
    const std::string out = dir.File("events.txt");
    TNotices notices;
    {
        TAlarmActions actions(hook.Url("/hook"),
                              "echo \"$TAVIX_EVENT $TAVIX_STATE $TAVIX_SERVER $TAVIX_STATION: $TAVIX_TEXT\" >> '" +
                                  out + "'",
                              "Rádio Teste", notices.Sink());
        EXPECT_TRUE(actions.Active());
        actions.Take({0, TAlarmKind::Silence, true, "Silencio no programa"});
        actions.Take({1, TAlarmKind::CheckOff, false, "notices are not acted on"});
        // A server's words reach the command as one line.
        actions.Take({0, TAlarmKind::Silence, false, "Som de\nvolta"});
        ASSERT_TRUE(WaitUntil([&] { return ReadAll(out).find("cleared") != std::string::npos &&
                                           ReadAll(out).find("raised") != std::string::npos; },
                              10000));
    }
    EXPECT_EQ(hook.Calls(), (std::vector<std::string>{"silence/raised/Rádio Teste", "silence/cleared/Rádio Teste"}));
    // The commands run side by side: their lines may come in either order.
    const std::string lines = ReadAll(out);
    EXPECT_EQ(lines.size(), std::string("silence raised 0 Rádio Teste: Silencio no programa\n"
                                        "silence cleared 0 Rádio Teste: Som de volta\n").size())
        << lines;
    EXPECT_NE(lines.find("silence raised 0 Rádio Teste: Silencio no programa\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("silence cleared 0 Rádio Teste: Som de volta\n"), std::string::npos) << lines;
    EXPECT_EQ(notices.Count(), 0u);
}

TEST(AlarmActions, FailuresComeBackAsNotices)
{
    THookServer hook;
    TNotices notices;
    {
        TAlarmActions actions(hook.Url("/broken"), "exit 3", "R", notices.Sink());
        actions.Take({1, TAlarmKind::NoAudio, true, "x"});
        ASSERT_TRUE(WaitUntil([&] { return notices.Count() >= 2; }, 10000));
    }
    ASSERT_EQ(notices.Seen.size(), 2u);
    EXPECT_EQ(notices.Seen[0].Kind, TAlarmKind::ActionFailed);
    EXPECT_EQ(notices.Seen[0].Text, "Webhook do alarme falhou (HTTP 500, evento no_audio): " + hook.Url("/broken") + ".");
    EXPECT_EQ(notices.Seen[1].Text, "Comando do alarme terminou com codigo 3.");
    EXPECT_EQ(notices.Seen[1].Server, 1);

    // The command's own complaint is in its notice; the webhook's failure
    // is told in the program's words.
    TNotices told;
    const int closedPort = FreeLoopbackPort();
    {
        TAlarmActions actions("http://127.0.0.1:" + std::to_string(closedPort) + "/h",
                              "echo first >&2; echo 'curl: nao achou o painel' >&2; exit 7", "R", told.Sink());
        actions.Take({0, TAlarmKind::Silence, true, "x"});
        ASSERT_TRUE(WaitUntil([&] { return told.Count() >= 2; }, 10000));
    }
    ASSERT_EQ(told.Seen.size(), 2u);
    EXPECT_EQ(told.Seen[0].Text, "Webhook do alarme falhou (conexao recusada, evento silence): http://127.0.0.1:" +
                                     std::to_string(closedPort) + "/h.");
    EXPECT_EQ(told.Seen[1].Text, "Comando do alarme terminou com codigo 7: curl: nao achou o painel.");

    TNotices none;
    {
        TAlarmActions idle("", "", "R", none.Sink());
        EXPECT_FALSE(idle.Active());
        idle.Take({0, TAlarmKind::Silence, true, "x"});
    }
    EXPECT_EQ(none.Count(), 0u);
}

TEST(AlarmActions, ASlowCommandHoldsUpNeitherTheNextHookNorTheNextCommand)
{
    THookServer hook;
    TTempDir dir;
    const std::string out = dir.File("ends.txt");
    TNotices notices;
    TAlarmActions actions(hook.Url("/hook"), "sleep 3; echo \"$TAVIX_STATE\" >> '" + out + "'", "R", notices.Sink());
    const auto start = std::chrono::steady_clock::now();
    actions.Take({0, TAlarmKind::Silence, true, "x"});
    actions.Take({0, TAlarmKind::Silence, false, "y"});
    ASSERT_TRUE(WaitUntil([&] { return hook.Calls().size() == 2; }, 2500)) << "the second hook waited for a command";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(out).size() >= 14; }, 8000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5500)) << "the commands ran one by one";
    EXPECT_EQ(notices.Count(), 0u);
}

TEST(AlarmActions, AStopDoesNotWaitForAHangingCommand)
{
    TNotices notices;
    TTempDir dir;
    const auto start = std::chrono::steady_clock::now();
    {
        TAlarmActions actions("", "echo $$ > '" + dir.File("pid") + "'; exec >/dev/null 2>&1; sleep 2", "R",
                              notices.Sink());
        actions.Take({0, TAlarmKind::Silence, true, "x"});
        ASSERT_TRUE(WaitUntil([&] { return ReadAll(dir.File("pid")).size() > 1; }, 3000));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // Once it ends on its own it is reaped: no process is left behind, not
    // even a zombie.
    const std::string pid = std::to_string(std::stoi(ReadAll(dir.File("pid"))));
    EXPECT_TRUE(WaitUntil([&] { return access(("/proc/" + pid).c_str(), F_OK) != 0; }, 6000))
        << "process " << pid << " is still there: " << ReadAll("/proc/" + pid + "/status").substr(0, 60);
    EXPECT_EQ(notices.Count(), 0u) << "nobody is told after a stop";
}

// A command runs with no input and none of the program's files or
// connections: it could otherwise keep a server connection open.
TEST(AlarmActions, ACommandGetsNoneOfTheProgramsDescriptors)
{
    TTempDir dir;
    // Without close-on-exec, and far from the numbers ls takes for itself.
    const int opened = open(dir.File("held").c_str(), O_WRONLY | O_CREAT, 0600);
    const int kept = fcntl(opened, F_DUPFD, 40);
    close(opened);
    ASSERT_GE(kept, 40);
    // This process's input holds a line and its output is a pipe, while
    // the command runs: it must read nothing and write nothing there.
    int input[2], output[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe2(output, O_NONBLOCK), 0);
    ASSERT_EQ(write(input[1], "leak\n", 5), 5);
    std::fflush(stdout);
    const int savedIn = dup(0), savedOut = dup(1);
    dup2(input[0], 0);
    dup2(output[1], 1);
    TNotices notices;
    {
        TAlarmActions actions("", "ls /proc/self/fd > '" + dir.File("fds") + "'; read line; echo \"[$line]\" >> '" +
                                      dir.File("fds") + "'; echo to-the-output",
                              "R", notices.Sink());
        actions.Take({0, TAlarmKind::Silence, true, "x"});
        WaitUntil([&] { return ReadAll(dir.File("fds")).find(']') != std::string::npos; }, 5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    dup2(savedIn, 0);
    dup2(savedOut, 1);
    close(savedIn);
    close(savedOut);
    char written[64];
    EXPECT_LE(read(output[0], written, sizeof written), 0) << "the command wrote to the program's output";
    for (int fd : {input[0], input[1], output[0], output[1], kept})
        close(fd);
    const std::string fds = ReadAll(dir.File("fds"));
    // 0, 1, 2, and the one ls opens to list the folder.
    EXPECT_EQ(std::count(fds.begin(), fds.end(), '\n'), 5) << fds;
    EXPECT_EQ(fds.find("\n" + std::to_string(kept) + "\n"), std::string::npos) << fds;
    EXPECT_NE(fds.find("[]"), std::string::npos) << "input is empty";
}
