#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <filesystem>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "control/ControlServer.h"
#include "headless/DeviceListing.h"
#include "headless/LogLine.h"
#include "station/TitleRequest.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// The control interface's answers, against a fake station that records
// what it was asked; the real station is driven in the program's tests.

namespace {

class TFakeStation : public TControlTarget {
public:
    TStationState State() override
    {
        TStationState s;
        s.Running = true;
        s.Server1 = {1, "Transmitindo.", false, -1, TOutputPhase::OnAir};
        s.Title = "Faixa \"1\"\n\x01";
        s.Listeners = -1;
        s.BytesSent = 123456;
        s.Outputs.push_back({2, "Tentando reconectar ao servidor de radio (1)... (401 senha recusada)", true, -1,
                             TOutputPhase::Retrying, TRefusal::PasswordRefused, 1});
        s.Outputs.push_back({3, "Transmitindo.", false, 4, TOutputPhase::OnAir});
        return s;
    }
    void RequestStart() override { ++Starts; }
    void RequestStop() override { ++Stops; }
    std::string RequestTitle(const std::string& ATitle) override
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Titles.push_back(ATitle);
        return ATitle == "recusado" ? "titulo vazio" : "";
    }

    std::atomic<int> Starts{0}, Stops{0};
    std::mutex Lock;
    std::vector<std::string> Titles;
};

struct TAnswer {
    int Code;
    std::string Body;
};

TAnswer Ask(const std::string& AArgs, int APort, const std::string& APath)
{
    TTempDir dir;
    const std::string out = dir.File("out");
    const std::string code = RunCommand("curl -s -m 5 -o " + ShellQuote(out) + " -w '%{http_code}' " + AArgs + " " +
                                        ShellQuote("http://127.0.0.1:" + std::to_string(APort) + APath));
    return {std::atoi(code.c_str()), ReadTextFile(out)};
}

const std::string KAuth = "-H 'Authorization: Bearer tok-123'";

} // namespace

TEST(ControlServer, OnlyTheTokenOpensItAndBadRequestsSayWhy)
{
    TFakeStation station;
    TControlServer server(station);
    const int port = FreeLoopbackPort();
    std::string error;
    ASSERT_TRUE(server.Start(port, "tok-123", error)) << error;

    EXPECT_EQ(Ask("", port, "/status").Code, 401);
    EXPECT_EQ(Ask("-H 'Authorization: Bearer tok-12'", port, "/status").Code, 401);
    EXPECT_EQ(Ask("-H 'Authorization: Basic dG9rLTEyMw=='", port, "/status").Code, 401);
    EXPECT_EQ(Ask("-X POST -d ''", port, "/stop").Code, 401);
    EXPECT_EQ(station.Stops, 0) << "nothing is done for a request without the token";
    EXPECT_EQ(Ask(KAuth, port, "/other").Code, 404);
    EXPECT_EQ(Ask(KAuth + " -X DELETE", port, "/status").Code, 405);
    const TAnswer wrongWay = Ask(KAuth, port, "/start");
    EXPECT_EQ(wrongWay.Code, 405);
    EXPECT_EQ(wrongWay.Body, R"({"error":"use POST /start"})");
    EXPECT_EQ(station.Starts, 0);

    const TAnswer status = Ask(KAuth, port, "/status");
    ASSERT_EQ(status.Code, 200);
    EXPECT_NE(status.Body.find(R"("title":"Faixa \"1\"\n\u0001")"), std::string::npos) << status.Body;
    EXPECT_NE(status.Body.find(R"("listeners":null)"), std::string::npos);
    EXPECT_NE(status.Body.find(R"("bytesSent":123456)"), std::string::npos);
    // The machine's names beside the words.
    EXPECT_NE(status.Body.find(R"("outputs":[{"attempt":1,"error":true,"listeners":null,"phase":"retrying",)"
                               R"("refusal":"password_refused","server":2,)"),
              std::string::npos)
        << status.Body;
    EXPECT_NE(status.Body.find(R"({"attempt":0,"error":false,"listeners":4,"phase":"on_air","refusal":null,)"
                               R"("server":3,"status":"Transmitindo."})"),
              std::string::npos)
        << status.Body;
    EXPECT_NE(status.Body.find(R"("phase":"on_air","recording":"","refusal":null,"state":"running",)"
                               R"("status":"Transmitindo.")"),
              std::string::npos)
        << status.Body;

    EXPECT_EQ(Ask(KAuth + " -X POST -d ''", port, "/start").Code, 202);
    EXPECT_EQ(Ask(KAuth + " -X POST -d ''", port, "/stop").Code, 202);
    EXPECT_EQ(station.Starts, 1);
    EXPECT_EQ(station.Stops, 1);

    EXPECT_EQ(Ask(KAuth + " -X POST --data-binary 'x{'", port, "/title").Code, 400);
    EXPECT_EQ(Ask(KAuth + " -X POST --data-binary '[\"title\"]'", port, "/title").Code, 400);
    EXPECT_EQ(Ask(KAuth + " -X POST --data-binary $'{\"title\": \"\\xff\"}'", port, "/title").Code, 400)
        << "not UTF-8";
    EXPECT_EQ(Ask(KAuth + " -X POST --data-binary '{\"title\": \"" + std::string(5000, 'a') + "\"}'", port, "/title")
                  .Code,
              400);
    EXPECT_EQ(Ask(KAuth + " -X POST --data-binary '{\"title\": \"recusado\"}'", port, "/title").Code, 409);
    EXPECT_EQ(Ask(KAuth + " -X POST --data-binary '{\"title\": \"Nova faixa\"}'", port, "/title").Code, 200);
    const std::lock_guard<std::mutex> guard(station.Lock);
    EXPECT_EQ(station.Titles, (std::vector<std::string>{"recusado", "Nova faixa"}));
}

TEST(ControlServer, RefusesToStartWithoutATokenOrOnATakenPort)
{
    TFakeStation station;
    TControlServer first(station), second(station);
    const int port = FreeLoopbackPort();
    std::string error;
    EXPECT_FALSE(first.Start(port, "", error));
    EXPECT_EQ(error, "Interface de controle sem token: defina [Controle] Token.");
    ASSERT_TRUE(first.Start(port, "t", error)) << error;
    EXPECT_FALSE(second.Start(port, "t", error));
    EXPECT_EQ(error, "A interface de controle nao conseguiu usar 127.0.0.1:" + std::to_string(port) + ".");
    EXPECT_FALSE(second.Start(70000, "t", error));
    first.Stop();
    EXPECT_NE(Ask(KAuth, port, "/status").Code, 200) << "stopped means closed";
}

TEST(HeadlessLog, LinesAreIsoTimeLevelAndOneLineOfText)
{
    const std::string line = LogLine(std::chrono::system_clock::now(), true, "duas\nlinhas");
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d error duas linhas$)")))
        << line;
    EXPECT_NE(LogLine(std::chrono::system_clock::now(), false, "x").find(" info x"), std::string::npos);
    // A server's words neither forge a line nor drive the terminal, and a
    // page of them is cut.
    const std::string hostile = LogLine(std::chrono::system_clock::now(), false,
                                        "a\r\n2026-01-01 error falso\x1b[2J\xC2\x9B" "31m\tb" + std::string(9000, 'x'));
    EXPECT_NE(hostile.find(" info a  2026-01-01 error falso [2J 31m b"), std::string::npos) << hostile;
    EXPECT_EQ(hostile.find_first_of("\r\n\t\x1b"), std::string::npos);
    EXPECT_LT(hostile.size(), 4200u);
    EXPECT_EQ(hostile.substr(hostile.size() - 3), "...");
}

TEST(HeadlessLog, DeviceListingHasTheColumnsAFileWouldStore)
{
    const std::vector<TAudioComboItem> items{
        {3, askInput, "Mic\tUSB", ""},
        {1000002, askOutputLoopback, "Saida (monitor)", "pulse:alsa_output.x"},
    };
    const std::string text = DeviceListingText(items);
    EXPECT_EQ(text.substr(0, text.find('\n')), "3\tinput\tMic USB\tMic USB\t");
    EXPECT_NE(text.find("1000002\toutput-loopback\t"), std::string::npos) << text;
    EXPECT_NE(text.find("\tpulse:alsa_output.x\n"), std::string::npos) << text;
}

TEST(StationState, AlarmsComeAndGoOnePerKindAndServer)
{
    TStationState s;
    ApplyAlarm(s.Alarms, {0, TAlarmKind::Silence, true, "Silencio no programa"});
    ApplyAlarm(s.Alarms, {2, TAlarmKind::NoAudio, true, "primeiro"});
    ApplyAlarm(s.Alarms, {2, TAlarmKind::NoAudio, true, "Ouvintes nao recebem audio (HTTP 404)."});
    ApplyAlarm(s.Alarms, {1, TAlarmKind::NoAudio, true, "servidor 1"});
    ApplyAlarm(s.Alarms, {2, TAlarmKind::CheckOff, false, "a notice is no alarm"});
    ApplyAlarm(s.Alarms, {1, TAlarmKind::NoAudio, false, "Ouvintes voltaram a receber audio."});
    ASSERT_EQ(s.Alarms.size(), 2u);
    EXPECT_EQ(s.Alarms[0].Kind, TAlarmKind::Silence);
    EXPECT_EQ(s.Alarms[1].Text, "Ouvintes nao recebem audio (HTTP 404).");
    const std::string json = StationStateJson(s);
    EXPECT_NE(json.find(R"("alarms":[{"event":"silence","server":0,"text":"Silencio no programa"},)"
                        R"({"event":"no_audio","server":2,"text":"Ouvintes nao recebem audio (HTTP 404)."}])"),
              std::string::npos)
        << json;
}

// A title asked for by request goes into the now-playing file through a
// name of its own: a link planted at a guessable temporary name is never
// written through, and requests side by side leave one whole title.
TEST(NowPlayingWrite, NoPlantedLinkIsWrittenThroughAndRequestsDoNotInterleave)
{
    TTempDir dir;
    const std::string noar = dir.File("noar.txt");
    const std::string victim = dir.File("victim.txt");
    WriteTextFile(victim, "intact");
    ASSERT_EQ(symlink(victim.c_str(), (noar + ".tavix-tmp").c_str()), 0);
    EXPECT_EQ(WriteNowPlayingFile(noar, "Primeira"), "");
    EXPECT_EQ(ReadTextFile(victim), "intact");
    EXPECT_EQ(ReadTextFile(noar), "Primeira\n");
    struct stat st {};
    ASSERT_EQ(stat(noar.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "readable by playout software and web pages";

    std::vector<std::thread> writers;
    for (int i = 0; i < 8; ++i)
        writers.emplace_back([&noar, i] {
            for (int n = 0; n < 20; ++n)
                EXPECT_EQ(WriteNowPlayingFile(noar, "Faixa " + std::string(2000, char('a' + i))), "");
        });
    for (std::thread& w : writers)
        w.join();
    const std::string text = ReadTextFile(noar);
    ASSERT_EQ(text.size(), 2007u);
    EXPECT_EQ(text.find_first_not_of(text[6], 6), 2006u) << "one whole title";
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        entries += entry.path().filename().string().rfind("noar.txt.tmp.", 0) == 0;
    EXPECT_EQ(entries, 0) << "no temporary file left";
}

// The socket's folder is what keeps other users out: one they could
// write to, or a file where the socket goes, is refused with the reason.
TEST(ControlServer, ASocketOnlyInAFolderOfItsOwn)
{
    TFakeStation station;
    TControlServer server(station);
    TTempDir dir;
    std::string error;
    const std::string shared = dir.File("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0770), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0770), 0);
    EXPECT_FALSE(server.StartOnSocket(shared + "/control.sock", "t", error));
    EXPECT_EQ(error, "A pasta do soquete de controle deve ser so do usuario do programa (0700): " + shared + ".");
    EXPECT_FALSE(server.StartOnSocket("control.sock", "t", error));
    EXPECT_NE(error.find("caminho absoluto"), std::string::npos) << error;

    const std::string folder = dir.File("run"), path = folder + "/control.sock";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    WriteTextFile(path, "not a socket");
    EXPECT_FALSE(server.StartOnSocket(path, "t", error));
    EXPECT_EQ(error, "O caminho do soquete de controle ja e outro arquivo: " + path + ".");
    EXPECT_EQ(ReadTextFile(path), "not a socket") << "left as it was";
    unlink(path.c_str());

    // A socket left by a run that was killed is replaced.
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    close(stale);
    ASSERT_TRUE(server.StartOnSocket(path, "tok-123", error)) << error;
    const std::string status = RunCommand("curl -s -m 5 --unix-socket " + ShellQuote(path) + " " + KAuth +
                                          " http://tavix/status");
    EXPECT_NE(status.find(R"("bytesSent":123456)"), std::string::npos) << status;
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    server.Stop();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}
