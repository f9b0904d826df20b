#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "platform/Tick.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// The program without a window, run as the system would run it: a child
// process with no display, its log on standard output.

namespace {

constexpr double KToneHz = 880.0;
const std::string KToken = "s3gredo-da-radio";

std::string Binary(const std::string& ARelative)
{
    const char* dir = std::getenv("TAVIX_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/" + ARelative;
}

std::vector<std::string> LogLines(const std::string& APath)
{
    std::vector<std::string> out;
    std::ifstream in(APath);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

bool LogHas(const std::string& APath, const std::string& AEnding)
{
    for (const std::string& line : LogLines(APath))
        if (line.size() >= AEnding.size() && line.compare(line.size() - AEnding.size(), AEnding.size(), AEnding) == 0)
            return true;
    return false;
}

struct THttpAnswer {
    int Code = 0;
    std::string Body;
};

THttpAnswer Http(const std::string& AMethod, int APort, const std::string& APath, const std::string& AToken,
                 const std::string& ABody = "")
{
    TTempDir dir;
    const std::string body = dir.File("body");
    std::string cmd = "curl -s -m 5 -o " + ShellQuote(body) + " -w '%{http_code}' -X " + AMethod;
    if (!AToken.empty())
        cmd += " -H " + ShellQuote("Authorization: Bearer " + AToken);
    if (AMethod == "POST") {
        WriteTextFile(dir.File("request"), ABody);
        cmd += " -H 'Content-Type: application/json' --data-binary @" + ShellQuote(dir.File("request"));
    }
    cmd += " " + ShellQuote("http://127.0.0.1:" + std::to_string(APort) + APath);
    THttpAnswer a;
    a.Code = std::atoi(RunCommand(cmd).c_str());
    a.Body = ReadTextFile(body);
    return a;
}

// A station's settings file for the audio rig and AServer.
std::string WriteSettings(const TTempDir& ADir, const TEncoderConfig& AConfig)
{
    const std::string path = ADir.File("TavixEncoder.ini");
    SaveEncoderConfigTo(path, AConfig);
    return path;
}

// The program as systemd starts it: no display of any kind.
std::unique_ptr<TChildProcess> StartHeadless(const std::string& ASettings, const std::string& ALog,
                                             const std::string& AProgram = "ui/TavixEncoderHeadless",
                                             const std::vector<std::string>& AMore = {},
                                             const std::string& AShellFirst = "")
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        unsetenv(name);
    std::vector<std::string> args{Binary(AProgram), "--headless", "--config", ASettings};
    args.insert(args.end(), AMore.begin(), AMore.end());
    if (!AShellFirst.empty())
        args.insert(args.begin(), {"/bin/sh", "-c", AShellFirst + " && exec \"$0\" \"$@\""});
    return std::make_unique<TChildProcess>(args, std::map<std::string, std::string>{}, ALog);
}

uint64_t JsonNumber(const std::string& AJson, const std::string& AKey)
{
    const std::string key = "\"" + AKey + "\":";
    const size_t at = AJson.find(key);
    return at == std::string::npos ? 0 : std::strtoull(AJson.c_str() + at + key.size(), nullptr, 10);
}

// What icecast2 has read from the source on /stream, by its statistics.
uint64_t ServerBytesRead(const TIcecastServer& AServer)
{
    const std::string stats =
        RunCommand("curl -s -m 5 -u " + AServer.AdminUser() + ":" + AServer.AdminPassword() + " " +
                   ShellQuote(AServer.BaseUrl() + "/admin/stats"));
    const size_t source = stats.find("<source mount=\"/stream\">");
    const size_t at = stats.find("<total_bytes_read>", source);
    return source == std::string::npos || at == std::string::npos
               ? 0
               : std::strtoull(stats.c_str() + at + std::strlen("<total_bytes_read>"), nullptr, 10);
}

bool MapsHold(pid_t APid, const std::string& AName)
{
    return ReadTextFile("/proc/" + std::to_string(APid) + "/maps").find(AName) != std::string::npos;
}

testing::AssertionResult HearsTone(int APort)
{
    TStreamCapture listener(APort, "/stream", 3000);
    const std::string body = listener.Wait();
    const double dominance = body.size() > 4000 ? ToneDominance(DecodeStream(body).Mono, KToneHz) : 0.0;
    if (dominance > 10.0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << body.size() << " bytes heard, tone dominance " << dominance;
}

TEncoderConfig Station(int APort)
{
    return StreamConfig("audio/mpeg", APort);
}

// The same with its control interface on a free port.
TEncoderConfig ControlledStation(int APort)
{
    TEncoderConfig config = Station(APort);
    config.ControlEnabled = true;
    config.ControlPort = FreeLoopbackPort();
    config.ControlToken = KToken;
    return config;
}

} // namespace

TEST(Headless, StreamsWithNoDisplayPublishesTitlesAndStopsCleanlyOnSigterm)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 40);
    TEncoderConfig config = Station(server.Port());
    UseNowPlaying(config, dir, "Primeira faixa");
    const std::string log = dir.File("log.txt");
    // Started under a low limit of open files, as some service managers
    // set it: the program raises it to the most it may have.
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlimit low{256, files.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    auto program = StartHeadless(WriteSettings(dir, config), log);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    ASSERT_TRUE(WaitUntil([&] { return LogHas(log, " info Transmitindo."); }, 15000)) << ReadTextFile(log);
    EXPECT_FALSE(MapsHold(program->Pid(), "libQt6")) << "no toolkit in the process";
    std::smatch limits;
    const std::string limitsText = ReadTextFile("/proc/" + std::to_string(program->Pid()) + "/limits");
    ASSERT_TRUE(std::regex_search(limitsText, limits, std::regex(R"(Max open files +(\d+) +(\d+))"))) << limitsText;
    EXPECT_EQ(limits[1], limits[2]) << "the soft limit raised to the hard one";
    EXPECT_NE(limits[1], "256");
    // The rig's monitor holds back its first fragment for a moment.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(HearsTone(server.Port())) << ReadTextFile(log);
    EXPECT_TRUE(WaitUntil([&] { return server.StatusJson().find("Primeira faixa") != std::string::npos; }, 8000));
    WriteTextFile(config.NoarPath, "Segunda faixa");
    EXPECT_TRUE(WaitUntil([&] { return server.StatusJson().find("Segunda faixa") != std::string::npos; }, 8000))
        << server.StatusJson();

    const uint64_t asked = GetTickCount64();
    kill(program->Pid(), SIGTERM);
    EXPECT_EQ(program->WaitExit(2000), 0) << ReadTextFile(log);
    EXPECT_LE(GetTickCount64() - asked, 2000u);
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(LogHas(log, " info Parado."));
    EXPECT_NE(lines.back().find(" info Parado."), std::string::npos) << "\"Parado.\" is the last word: " << lines.back();
    const std::regex line(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (info|error) .+$)");
    // Our own lines; the audio libraries may write their own to stderr.
    int ours = 0;
    for (const std::string& l : lines)
        if (l.rfind("20", 0) == 0) {
            ++ours;
            EXPECT_TRUE(std::regex_match(l, line)) << l;
        }
    EXPECT_GE(ours, 4);
}

TEST(Headless, RefusedSettingsEndTheProgramWithTheReason)
{
    TTempDir dir;
    TEncoderConfig config = Station(FreeLoopbackPort());
    config.Host = "";
    const std::string log = dir.File("log.txt");
    auto program = StartHeadless(WriteSettings(dir, config), log);
    EXPECT_EQ(program->WaitExit(10000), 1);
    EXPECT_TRUE(LogHas(log, " error Configure o host do servidor.")) << ReadTextFile(log);

    auto missing = StartHeadless(dir.File("nowhere/TavixEncoder.ini"), dir.File("log3.txt"));
    EXPECT_EQ(missing->WaitExit(10000), 1);
    EXPECT_TRUE(LogHas(dir.File("log3.txt"),
                       " error Arquivo de configuracao nao encontrado: " + dir.File("nowhere/TavixEncoder.ini") + "."))
        << ReadTextFile(dir.File("log3.txt"));

    config.Host = "127.0.0.1";
    config.Mp3Quality = 12;
    auto quality = StartHeadless(WriteSettings(dir, config), dir.File("log4.txt"));
    EXPECT_EQ(quality->WaitExit(10000), 1);
    EXPECT_TRUE(LogHas(dir.File("log4.txt"), " error A qualidade do MP3 (Qualidade) vai de 0 a 9."))
        << ReadTextFile(dir.File("log4.txt"));

    WriteTextFile(dir.File("broken.ini"), std::string(2 << 20, 'x'));
    auto unreadable = StartHeadless(dir.File("broken.ini"), dir.File("log2.txt"));
    EXPECT_EQ(unreadable->WaitExit(10000), 1);
    EXPECT_NE(ReadTextFile(dir.File("log2.txt")).find(" error Unable to read "), std::string::npos)
        << ReadTextFile(dir.File("log2.txt"));
}

TEST(Headless, TheControlInterfaceAnswersOnlyItsTokenAndDrivesTheStation)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 60);
    TEncoderConfig config = ControlledStation(server.Port());
    // A now-playing file with nothing in it: nothing on air.
    config.NoarPath = dir.File("noar.txt");
    WriteTextFile(config.NoarPath, "");
    const int port = config.ControlPort;
    const std::string log = dir.File("log.txt");
    auto program = StartHeadless(WriteSettings(dir, config), log);
    ASSERT_TRUE(WaitUntil([&] { return LogHas(log, " info Transmitindo."); }, 15000)) << ReadTextFile(log);

    EXPECT_EQ(Http("GET", port, "/status", "").Code, 401);
    EXPECT_EQ(Http("GET", port, "/status", "errado").Code, 401);
    EXPECT_EQ(Http("GET", port, "/status", KToken + "x").Code, 401);
    EXPECT_EQ(Http("GET", port, "/nada", KToken).Code, 404);
    EXPECT_EQ(Http("POST", port, "/title", KToken, "titulo sem json").Code, 400);
    EXPECT_EQ(Http("POST", port, "/title", KToken, R"({"titulo": "x"})").Code, 400);
    EXPECT_EQ(Http("POST", port, "/title", KToken, R"({"title": 3})").Code, 400);
    EXPECT_EQ(Http("POST", port, "/title", KToken, "{\"title\": \"" + std::string(8000, 'a') + "\"}").Code, 400);

    const THttpAnswer status = Http("GET", port, "/status", KToken);
    ASSERT_EQ(status.Code, 200);
    EXPECT_NE(status.Body.find(R"("state":"running")"), std::string::npos) << status.Body;
    EXPECT_NE(status.Body.find(R"("status":"Transmitindo.")"), std::string::npos) << status.Body;
    EXPECT_NE(status.Body.find(R"("phase":"on_air")"), std::string::npos) << status.Body;
    EXPECT_NE(status.Body.find(R"("title":"")"), std::string::npos) << "the strip's placeholder is no title";
    EXPECT_EQ(status.Body.find(R"("bytesSent":0,)"), std::string::npos) << status.Body;

    ASSERT_EQ(Http("POST", port, "/title", KToken, R"({"title": "Locução ao vivo"})").Code, 200);
    EXPECT_TRUE(WaitUntil([&] { return server.StatusJson().find("Locução ao vivo") != std::string::npos; }, 8000))
        << server.StatusJson();
    const std::string titled = Http("GET", port, "/status", KToken).Body;
    EXPECT_NE(titled.find(R"("title":"Locução ao vivo")"), std::string::npos) << titled;

    // What it says it sent against what the server says it read: the
    // server reads what the kernels between them have passed on.
    const uint64_t before = JsonNumber(Http("GET", port, "/status", KToken).Body, "bytesSent");
    const uint64_t read = ServerBytesRead(server);
    const uint64_t after = JsonNumber(Http("GET", port, "/status", KToken).Body, "bytesSent");
    EXPECT_LE(read, after);
    EXPECT_GE(read + 512 * 1024, before) << read << " read by the server, " << before << " sent";

    // A thousand requests while on air leave no gap in the stream.
    TTempDir burst;
    std::string requests = "header = \"Authorization: Bearer " + KToken + "\"\n";
    for (int i = 0; i < 1000; ++i)
        requests += "url = \"http://127.0.0.1:" + std::to_string(port) + "/status\"\noutput = \"/dev/null\"\n";
    WriteTextFile(burst.File("requests"), requests);
    TStreamCapture listener(server.Port(), "/stream", 20000);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint64_t burstFrom = GetTickCount64();
    const std::string codes = RunCommand("curl -s -m 60 -w '%{http_code}\\n' -K " + ShellQuote(burst.File("requests")));
    const uint64_t burstTo = std::max(GetTickCount64(), burstFrom + 3000);
    listener.Wait();
    ASSERT_LE(burstTo - burstFrom, 15000u) << "the listener must outlast the burst";
    size_t ok = 0;
    for (size_t at = codes.find("200"); at != std::string::npos; at = codes.find("200", at + 3))
        ++ok;
    EXPECT_EQ(ok, 1000u);
    EXPECT_GE(listener.BytesBetween(burstFrom, burstTo),
              (burstTo - burstFrom) * uint64_t(config.Bitrate) * 1000 / 8 / 1000 * 85 / 100)
        << "the stream slowed down during the burst";

    EXPECT_EQ(Http("POST", port, "/stop", KToken).Code, 202);
    EXPECT_TRUE(WaitUntil([&] { return LogHas(log, " info Parado."); }, 5000));
    EXPECT_TRUE(WaitUntil(
        [&] { return Http("GET", port, "/status", KToken).Body.find(R"("state":"stopped")") != std::string::npos; },
        3000));
    EXPECT_TRUE(program->Running()) << "a stop by the interface leaves the program waiting for a start";
    EXPECT_EQ(Http("POST", port, "/start", KToken).Code, 202);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return Http("GET", port, "/status", KToken).Body.find(R"("status":"Transmitindo.")") != std::string::npos;
        },
        15000));
    kill(program->Pid(), SIGTERM);
    EXPECT_EQ(program->WaitExit(3000), 0) << ReadTextFile(log);
}

TEST(Headless, ASilenceAlarmIsLoggedAndShownInTheStatusTillSoundReturns)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 0.01);
    TEncoderConfig config = Station(server.Port());
    config.SilenceSeconds = 3;
    config.ControlEnabled = true;
    config.ControlPort = FreeLoopbackPort();
    config.ControlToken = KToken;
    // A command that outlasts the program, with a process of its own.
    const std::string pids = dir.File("pids");
    config.AlarmCommand = "echo $$ >> '" + pids + "'; sleep 60 & echo $! >> '" + pids + "'; wait";
    const std::string log = dir.File("log.txt");
    auto program = StartHeadless(WriteSettings(dir, config), log);
    const std::string raised = " error ALARME: Silencio no programa ha 3 s (abaixo de -50 dBFS).";
    ASSERT_TRUE(WaitUntil([&] { return LogHas(log, raised); }, 15000)) << ReadTextFile(log);
    const THttpAnswer during = Http("GET", config.ControlPort, "/status", KToken);
    EXPECT_NE(during.Body.find(R"("alarms":[{"event":"silence","server":0,"text":"Silencio no programa)"),
              std::string::npos)
        << during.Body;
    PlayRigTone(KToneHz, 30);
    ASSERT_TRUE(WaitUntil([&] { return LogHas(log, " info ALARME encerrado: Som de volta no programa."); }, 5000)) << ReadTextFile(log);
    EXPECT_NE(Http("GET", config.ControlPort, "/status", KToken).Body.find(R"("alarms":[])"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] {
        const std::string listed = ReadTextFile(pids);
        return std::count(listed.begin(), listed.end(), '\n') == 4;
    }, 5000))
        << "two commands, each a shell and a sleep: " << ReadTextFile(pids);
    kill(program->Pid(), SIGTERM);
    EXPECT_EQ(program->WaitExit(5000), 0) << ReadTextFile(log);
    // Nobody tends the commands once the program is gone: they end with it.
    std::istringstream listed(ReadTextFile(pids));
    for (std::string pid; std::getline(listed, pid);) {
        const std::string status = "/proc/" + pid + "/status";
        EXPECT_TRUE(WaitUntil([&] { return ReadTextFile(status).find("State:\tZ") != std::string::npos ||
                                           access(status.c_str(), F_OK) != 0; },
                              3000))
            << "process " << pid << " outlived the program";
    }
}

TEST(Headless, TheOptionsAnswerWithoutAWindow)
{
    TTempDir dir;
    for (const std::string program : {"ui/TavixEncoderHeadless", "ui/TavixEncoder"}) {
        SCOPED_TRACE(program);
        int code = -1;
        const std::string version = RunCommand(ShellQuote(Binary(program)) + " --version", &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(version, "TAVIX Encoder 2.0\n");
        const std::string help = RunCommand(ShellQuote(Binary(program)) + " --help", &code);
        EXPECT_EQ(code, 0);
        EXPECT_NE(help.find("--headless"), std::string::npos);
        EXPECT_NE(help.find("--list-devices"), std::string::npos);
    }
    int wrong = -1;
    RunCommand(ShellQuote(Binary("ui/TavixEncoderHeadless")) + " --nonsense 2>/dev/null", &wrong);
    EXPECT_EQ(wrong, 2);
    RigMonitorDevice();
    int code = -1;
    const std::string list = RunCommand(ShellQuote(Binary("ui/TavixEncoder")) + " --list-devices 2>/dev/null", &code);
    EXPECT_EQ(code, 0);
    bool monitor = false;
    for (std::istringstream in(list); !in.eof();) {
        std::string line;
        std::getline(in, line);
        if (line.empty())
            continue;
        const std::regex columns(R"(^-?\d+\t(input|output-loopback)\t[^\t]*\t[^\t]+\t[^\t]*$)");
        EXPECT_TRUE(std::regex_match(line, columns)) << line;
        monitor = monitor || line.find("monitor_test") != std::string::npos;
    }
    EXPECT_TRUE(monitor) << list;

}

namespace {

long ResidentKiB(pid_t APid)
{
    const std::string status = ReadTextFile("/proc/" + std::to_string(APid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

int Connect(int APort)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(APort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s >= 0 && connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return s;
    if (s >= 0)
        close(s);
    return -1;
}

// Sends AHead, then AFill again and again up to ALimit bytes; the bytes
// that went out before the program hung up (ALimit when it never did).
uint64_t Flood(int APort, const std::string& AHead, const std::string& AFill, uint64_t ALimit)
{
    const int s = Connect(APort);
    if (s < 0)
        return 0;
    const timeval patience{5, 0};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof(patience));
    uint64_t sent = send(s, AHead.data(), AHead.size(), MSG_NOSIGNAL) > 0 ? AHead.size() : 0;
    while (sent < ALimit) {
        const ssize_t n = send(s, AFill.data(), AFill.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<uint64_t>(n);
    }
    close(s);
    return sent;
}

} // namespace

// What a stranger on the machine can do without the token, as measured on
// the program before it had bounds: endless header lines, a pile of
// headers, a crowd of idle connections under a low open-file limit, and
// slow drips. The programme goes on, memory stays put, and the station's
// own requests are answered at once throughout.
TEST(Headless, TheControlInterfaceOutlastsFloodsCrowdsAndDrips)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 120);
    TEncoderConfig config = ControlledStation(server.Port());
    const int port = config.ControlPort;
    const std::string log = dir.File("log.txt");
    // Both limits low, as a service manager may set them.
    auto started = StartHeadless(WriteSettings(dir, config), log, "ui/TavixEncoderHeadless", {}, "ulimit -n 256");
    TChildProcess& program = *started;
    ASSERT_TRUE(WaitUntil([&] { return LogHas(log, " info Transmitindo."); }, 15000)) << ReadTextFile(log);
    TStreamCapture listener(server.Port(), "/stream", 20000);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long residentBefore = ResidentKiB(program.Pid());
    const uint64_t from = GetTickCount64();
    auto answeredAtOnce = [&] {
        const uint64_t asked = GetTickCount64();
        const THttpAnswer a = Http("GET", port, "/status", KToken);
        return a.Code == 200 && GetTickCount64() - asked < 1000;
    };

    EXPECT_LT(Flood(port, "GET /status HTTP/1.1\r\nX-Long: ", std::string(64 * 1024, 'a'), 256u << 20), 64u << 20)
        << "a header line that never ends is cut off";
    EXPECT_LT(Flood(port, "GET /status HTTP/1.1\r\n", "X-Many: 1\r\n", 256u << 20), 64u << 20)
        << "headers without end are cut off";
    EXPECT_TRUE(answeredAtOnce());

    std::vector<int> crowd;
    for (int i = 0; i < 300; ++i)
        if (const int s = Connect(port); s >= 0)
            crowd.push_back(s);
    EXPECT_GE(crowd.size(), 64u);
    EXPECT_TRUE(answeredAtOnce()) << "an idle crowd makes room";
    for (const int s : crowd)
        close(s);

    std::vector<int> drips;
    for (int i = 0; i < 16; ++i)
        if (const int s = Connect(port); s >= 0)
            drips.push_back(s);
    ASSERT_EQ(drips.size(), 16u);
    const std::string request = "GET /status HTTP/1.1\r\nHost: x\r\n";
    int cutOff = 0;
    for (size_t i = 0; i < 9; ++i) {
        cutOff = 0;
        for (const int s : drips)
            cutOff += send(s, &request[i % request.size()], 1, MSG_NOSIGNAL) == 1 ? 0 : 1;
        EXPECT_TRUE(answeredAtOnce()) << "while drips arrive, second " << i;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    EXPECT_EQ(cutOff, 16) << "a request that takes more than 5 s is ended";
    for (const int s : drips)
        close(s);

    const uint64_t to = GetTickCount64();
    EXPECT_LT(ResidentKiB(program.Pid()) - residentBefore, 20 * 1024) << ReadTextFile(log);
    listener.Wait();
    ASSERT_LE(to - from, 17000u) << "the listener must outlast the attacks";
    EXPECT_GE(listener.BytesBetween(from, to), (to - from) * uint64_t(config.Bitrate) / 8 * 85 / 100)
        << "the stream went on at its rate";
    EXPECT_FALSE(LogHas(log, " info Parado.")) << ReadTextFile(log);
    EXPECT_TRUE(program.Running());
}

// A port another user took first leaves the station on the air without
// its interface; on a private socket nobody can take its place.
TEST(Headless, ASquattedPortIsNoOutageAndTheSocketIsPrivate)
{
    TIcecastServer server;
    TTempDir dir;
    PlayRigTone(KToneHz, 60);
    TEncoderConfig config = ControlledStation(server.Port());
    const int squatter = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(config.ControlPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(squatter, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(squatter, 4), 0);
    const std::string settings = WriteSettings(dir, config);
    {
        const std::string log = dir.File("squatted.txt");
        auto program = StartHeadless(settings, log);
        ASSERT_TRUE(WaitUntil([&] { return LogHas(log, " info Transmitindo."); }, 15000)) << ReadTextFile(log);
        EXPECT_TRUE(LogHas(log, " error A interface de controle nao conseguiu usar 127.0.0.1:" +
                                    std::to_string(config.ControlPort) +
                                    ". A transmissao segue sem a interface de controle."))
            << ReadTextFile(log);
    }
    close(squatter);

    const std::string folder = dir.File("run"), socketPath = folder + "/control.sock";
    const std::string log = dir.File("socket.txt");
    auto program = StartHeadless(settings, log, "ui/TavixEncoderHeadless", {"--control-socket", socketPath});
    ASSERT_TRUE(WaitUntil([&] { return LogHas(log, " info Transmitindo."); }, 15000)) << ReadTextFile(log);
    EXPECT_TRUE(LogHas(log, " info Interface de controle no soquete " + socketPath)) << ReadTextFile(log);
    struct stat info {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    const std::string ask = "curl -s -m 5 --unix-socket " + ShellQuote(socketPath) + " -w ' %{http_code}' ";
    EXPECT_NE(RunCommand(ask + "-H " + ShellQuote("Authorization: Bearer " + KToken) + " http://tavix/status")
                  .find(R"("status":"Transmitindo.")"),
              std::string::npos);
    EXPECT_NE(RunCommand(ask + "http://tavix/status").find(" 401"), std::string::npos);
    EXPECT_FALSE(WaitForPort(config.ControlPort, 200)) << "no TCP port besides the socket";
    kill(program->Pid(), SIGTERM);
    EXPECT_EQ(program->WaitExit(3000), 0) << ReadTextFile(log);
    EXPECT_NE(access(socketPath.c_str(), F_OK), 0) << "the socket goes with the program";
}
