#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "settings/EncoderConfig.h"
#include "settings/SettingsWriteError.h"
#include "tests/support/TempDir.h"

namespace {

void ExpectSameConfig(const TEncoderConfig& A, const TEncoderConfig& B)
{
    EXPECT_EQ(A.Language, B.Language);
    EXPECT_EQ(A.ServerType, B.ServerType);
    EXPECT_EQ(A.Host, B.Host);
    EXPECT_EQ(A.Port, B.Port);
    EXPECT_EQ(A.Mount, B.Mount);
    EXPECT_EQ(A.UserName, B.UserName);
    EXPECT_EQ(A.Password, B.Password);
    EXPECT_EQ(A.StreamName, B.StreamName);
    EXPECT_EQ(A.Genre, B.Genre);
    EXPECT_EQ(A.Url, B.Url);
    EXPECT_EQ(A.Codec, B.Codec);
    EXPECT_EQ(A.Bitrate, B.Bitrate);
    EXPECT_EQ(A.Mp3Quality, B.Mp3Quality);
    EXPECT_EQ(A.SampleRate, B.SampleRate);
    EXPECT_EQ(A.Channels, B.Channels);
    EXPECT_EQ(A.AudioDeviceIndex, B.AudioDeviceIndex);
    EXPECT_EQ(A.AudioDeviceName, B.AudioDeviceName);
    EXPECT_EQ(A.AudioSourceKind, B.AudioSourceKind);
    EXPECT_EQ(A.NoarPath, B.NoarPath);
    EXPECT_EQ(A.EQPreset, B.EQPreset);
    EXPECT_EQ(A.EQBands, B.EQBands);
    EXPECT_EQ(A.CompressorEnabled, B.CompressorEnabled);
    EXPECT_EQ(A.FtpEnabled, B.FtpEnabled);
    EXPECT_EQ(A.FtpHost, B.FtpHost);
    EXPECT_EQ(A.FtpPort, B.FtpPort);
    EXPECT_EQ(A.FtpUser, B.FtpUser);
    EXPECT_EQ(A.FtpPassword, B.FtpPassword);
    EXPECT_EQ(A.FtpRemoteDir, B.FtpRemoteDir);
    EXPECT_EQ(A.FtpRemoteFile, B.FtpRemoteFile);
    EXPECT_EQ(A.FtpCronUrl, B.FtpCronUrl);
    EXPECT_EQ(A.FtpPassive, B.FtpPassive);
    EXPECT_EQ(A.RecordEnabled, B.RecordEnabled);
    EXPECT_EQ(A.RecordFolder, B.RecordFolder);
    EXPECT_EQ(A.RecordSplitMinutes, B.RecordSplitMinutes);
    EXPECT_EQ(A.ControlEnabled, B.ControlEnabled);
    EXPECT_EQ(A.ControlPort, B.ControlPort);
    EXPECT_EQ(A.ControlToken, B.ControlToken);
    EXPECT_EQ(A.SilenceAlarmEnabled, B.SilenceAlarmEnabled);
    EXPECT_EQ(A.SilenceThresholdDb, B.SilenceThresholdDb);
    EXPECT_EQ(A.SilenceSeconds, B.SilenceSeconds);
    EXPECT_EQ(A.ListenerCheckEnabled, B.ListenerCheckEnabled);
    EXPECT_EQ(A.AlarmWebhookUrl, B.AlarmWebhookUrl);
    EXPECT_EQ(A.AlarmCommand, B.AlarmCommand);
    EXPECT_EQ(A.ListenUrl, B.ListenUrl);
    for (size_t n = 0; n < A.ExtraServers.size(); ++n) {
        SCOPED_TRACE("server " + std::to_string(n + 2));
        const TServerRecord &a = A.ExtraServers[n], &b = B.ExtraServers[n];
        EXPECT_EQ(a.Enabled, b.Enabled);
        EXPECT_EQ(a.ServerType, b.ServerType);
        EXPECT_EQ(a.Host, b.Host);
        EXPECT_EQ(a.Port, b.Port);
        EXPECT_EQ(a.Mount, b.Mount);
        EXPECT_EQ(a.UserName, b.UserName);
        EXPECT_EQ(a.ListenUrl, b.ListenUrl);
        EXPECT_EQ(a.Password, b.Password);
        EXPECT_EQ(a.StreamName, b.StreamName);
        EXPECT_EQ(a.Genre, b.Genre);
        EXPECT_EQ(a.Url, b.Url);
        EXPECT_EQ(a.UseTls, b.UseTls);
        EXPECT_EQ(a.TlsFingerprint, b.TlsFingerprint);
        EXPECT_EQ(a.Codec, b.Codec);
        EXPECT_EQ(a.Bitrate, b.Bitrate);
        EXPECT_EQ(a.Mp3Quality, b.Mp3Quality);
        EXPECT_EQ(a.Channels, b.Channels);
    }
}

TEncoderConfig Defaults()
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    return c;
}

// Every field away from its default.
TEncoderConfig Unusual()
{
    TEncoderConfig c;
    c.Language = "fr-FR";
    c.ServerType = "shoutcast";
    c.Host = "r\xC3\xA1" "dio.example";
    c.Port = -7;
    c.Mount = "live";
    c.UserName = "dj";
    c.Password = "p=w;\"#[x]";
    c.StreamName = std::string(2047, 'n');
    c.Genre = "Forr\xC3\xB3";
    c.Url = "http://a.example/?x=1&y=2";
    c.Codec = "audio/x-aac";
    c.Bitrate = 2147483647;
    c.Mp3Quality = 7;
    c.SampleRate = 48000;
    c.Channels = 5;
    c.AudioDeviceIndex = 12;
    c.AudioDeviceName = "Mic (USB) [hw:1,0]";
    c.AudioSourceKind = askOutputLoopback;
    c.NoarPath = "/tmp/no ar.txt";
    c.EQPreset = "custom";
    c.EQBands = {1.0 / 3.0, -12, 12, 0.5, -0.25, 1e-7, 2.5, -3.75, 11.123456789012345, 4};
    c.CompressorEnabled = true;
    c.FtpEnabled = true;
    c.FtpHost = "ftp.example";
    c.FtpPort = -2147483647 - 1;
    for (int i = 0; i < 2047; ++i)
        c.FtpUser += "\xC3\xA9"; // 2047 characters, 4094 bytes
    c.FtpPassword = "";
    c.FtpRemoteDir = "/a/b";
    c.FtpRemoteFile = "now.txt";
    c.FtpCronUrl = "https://c.example/cron";
    c.FtpPassive = false;
    c.RecordEnabled = true;
    c.RecordFolder = "/srv/gravações da rádio";
    c.RecordSplitMinutes = 60;
    c.ControlEnabled = true;
    c.ControlPort = 8123;
    c.ControlToken = "t=k;n";
    c.SilenceAlarmEnabled = false;
    c.SilenceThresholdDb = -62;
    c.SilenceSeconds = 45;
    c.ListenerCheckEnabled = true;
    c.AlarmWebhookUrl = "https://hooks.example/radio?k=1&x=;#";
    c.AlarmCommand = "notify-send 'Rádio' \"$TAVIX_TEXT\"";
    c.ListenUrl = "http://relay.example:8000/live";
    for (size_t n = 0; n < c.ExtraServers.size(); ++n) {
        const std::string k = std::to_string(n + 2);
        c.ExtraServers[n] = {n != 1, n == 2 ? "shoutcast" : "icecast", "backup" + k + ".example",
                             int32_t(8000 + n), "/mount" + k, "user" + k, "pass=" + k + ";#", "Nome " + k,
                             "Gênero " + k, "http://" + k, n == 0, "AB:CD:" + k, n == 0 ? "audio/aacp" : "audio/ogg",
                             int32_t(48 + n), int32_t(9 - n), int32_t(1 + n % 2), "http://ouvir" + k + ".example/"};
    }
    return c;
}

std::vector<std::string> Lines(const std::string& AText)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < AText.size()) {
        const size_t nl = AText.find('\n', start);
        out.push_back(AText.substr(start, nl - start));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return out;
}

// The user RunInChildren's children run as: nobody under root, whose
// permission bits bind no one, else the current user.
std::pair<uid_t, gid_t> TestUser()
{
    if (geteuid() != 0)
        return {geteuid(), getegid()};
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        throw std::runtime_error("no user nobody to drop root to");
    return {nobody->pw_uid, nobody->pw_gid};
}

bool BecomeTestUser()
{
    if (geteuid() != 0)
        return true;
    const auto [uid, gid] = TestUser();
    return setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
}

// Runs each piece of work at once in a child process of its own and gives
// back what each returned; none for a child still running after ATimeoutMs,
// which is then killed, so a save that hangs fails the test instead of the
// run. With AAsTestUser the children drop root first.
std::vector<std::optional<std::string>> RunInChildren(const std::vector<std::function<std::string()>>& AWork,
                                                      int ATimeoutMs, bool AAsTestUser = false)
{
    struct TChild {
        pid_t Pid;
        int Fd;
        std::string Out;
        bool Ended = false;
    };
    std::vector<TChild> children;
    for (const auto& work : AWork) {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe");
        const pid_t pid = fork();
        if (pid < 0)
            throw std::runtime_error("fork");
        if (pid == 0) {
            close(fds[0]);
            std::string out = "cannot drop root";
            if (!AAsTestUser || BecomeTestUser()) {
                try {
                    out = work();
                } catch (const std::exception& e) {
                    out = std::string("exception: ") + e.what();
                }
            }
            for (size_t done = 0; done < out.size();) {
                const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
            }
            _exit(0);
        }
        close(fds[1]);
        children.push_back({pid, fds[0], "", false});
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    for (;;) {
        std::vector<pollfd> open;
        for (const auto& c : children)
            if (!c.Ended)
                open.push_back({c.Fd, POLLIN, 0});
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (open.empty() || left <= 0)
            break;
        if (poll(open.data(), open.size(), static_cast<int>(left)) <= 0)
            continue;
        for (auto& c : children) {
            if (c.Ended)
                continue;
            for (const auto& p : open) {
                if (p.fd != c.Fd || p.revents == 0)
                    continue;
                char buf[4096];
                const ssize_t n = read(c.Fd, buf, sizeof buf);
                if (n > 0)
                    c.Out.append(buf, static_cast<size_t>(n));
                else
                    c.Ended = true;
            }
        }
    }
    std::vector<std::optional<std::string>> results;
    for (auto& c : children) {
        if (!c.Ended)
            kill(c.Pid, SIGKILL);
        int status = 0;
        waitpid(c.Pid, &status, 0);
        close(c.Fd);
        results.push_back(c.Ended ? std::optional<std::string>(c.Out) : std::nullopt);
    }
    return results;
}

std::string SaveResult(const std::string& APath, const TEncoderConfig& AConfig)
{
    try {
        SaveEncoderConfigTo(APath, AConfig);
        return "ok";
    } catch (const ESettingsWriteError& e) {
        return e.what();
    }
}

mode_t ModeOf(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Every "[section]" of the text, ASections of them, and the key lines of
// each must be there once: a save that appended a second copy has doubled them.
void ExpectEachSectionAndKeyOnce(const std::string& AText, size_t ASections)
{
    std::set<std::string> sections, keys;
    std::string current;
    for (const auto& line : Lines(AText)) {
        if (!line.empty() && line[0] == '[') {
            current = line;
            EXPECT_TRUE(sections.insert(line).second) << line << " twice in\n" << AText.substr(0, 2000);
        } else if (line.find('=') != std::string::npos) {
            const std::string key = current + line.substr(0, line.find('='));
            EXPECT_TRUE(keys.insert(key).second) << key << " twice";
        }
    }
    EXPECT_EQ(sections.size(), ASections) << AText.substr(0, 2000);
}

std::vector<std::string> TempFilesBeside(const std::string& APath)
{
    std::vector<std::string> found;
    const std::string prefix = std::filesystem::path(APath).filename().string() + ".tmp";
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(APath).parent_path()))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            found.push_back(e.path().filename().string());
    return found;
}

} // namespace

TEST(SettingsFile, NoFileGivesDefaultsAndCreatesNone)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    TEncoderConfig c = Unusual();
    LoadEncoderConfigFrom(path, c);
    ExpectSameConfig(c, Defaults());
    EXPECT_EQ(c.Port, 8000);
    EXPECT_EQ(c.AudioDeviceIndex, -1);
    EXPECT_TRUE(c.FtpPassive);
    EXPECT_EQ(c.FtpRemoteFile, "noar.txt");
    EXPECT_FALSE(c.RecordEnabled);
    EXPECT_EQ(c.RecordSplitMinutes, 0);
    EXPECT_EQ(c.RecordFolder, DefaultRecordingFolder());
    EXPECT_TRUE(c.SilenceAlarmEnabled);
    EXPECT_EQ(c.SilenceThresholdDb, -50);
    EXPECT_EQ(c.SilenceSeconds, 20);
    EXPECT_FALSE(c.ListenerCheckEnabled) << "the ear is a listener on the server: asked for, not assumed";
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "loading must not create a file";
}

TEST(SettingsFile, ValueFormsAsTheClassicRoutinesReadThem)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    WriteTextFile(path,
                  "; written by hand\r\n"
                  "[transmissao]\r\n"
                  "PORT = 0x1F40\r\n"
                  "Bitrate=abc\r\n"
                  "SampleRate=0X5622\r\n"
                  "Channels=  1  \r\n"
                  "StreamName=\"  Quoted Radio  \"\r\n"
                  "Genre='Jazz'\r\n"
                  "Host=  a=b.example  \r\n"
                  "EndpointUrl=http://only.endpoint\r\n"
                  "[Audio]\n"
                  "SourceKind=OUTPUT\n"
                  "DeviceIndex=-3\n"
                  "[FTP]\n"
                  "Enabled=2\n"
                  "Passive=yes\n"
                  "Port=99999999999\n"
                  "[EQ]\n"
                  "CompressorEnabled=0x0\n"
                  "Band3=2,5\n"
                  "Band4=1.25\n");
    TEncoderConfig c;
    LoadEncoderConfigFrom(path, c);
    EXPECT_EQ(c.Port, 8000) << "hexadecimal after 0x";
    EXPECT_EQ(c.Bitrate, 192) << "not an integer: default";
    EXPECT_EQ(c.SampleRate, 22050);
    EXPECT_EQ(c.Channels, 1);
    EXPECT_EQ(c.StreamName, "  Quoted Radio  ") << "one pair of quotes dropped, inside kept";
    EXPECT_EQ(c.Genre, "Jazz");
    EXPECT_EQ(c.Host, "a=b.example");
    EXPECT_EQ(c.Url, "") << "an old EndpointUrl key is no address";
    SaveEncoderConfigTo(path, c);
    EXPECT_NE(ReadTextFile(path).find("EndpointUrl=http://only.endpoint"), std::string::npos)
        << "a key this program no longer reads stays in the file";
    EXPECT_EQ(c.AudioSourceKind, askOutputLoopback);
    EXPECT_EQ(c.AudioDeviceIndex, -3);
    EXPECT_TRUE(c.FtpEnabled) << "any non-zero integer";
    EXPECT_TRUE(c.FtpPassive) << "not an integer: default";
    EXPECT_EQ(c.FtpPort, 21) << "out of range: default";
    EXPECT_FALSE(c.CompressorEnabled);
    // The C locale of the test writes a point: "2,5" does not parse.
    EXPECT_EQ(c.EQBands[3], 0.0);
    EXPECT_EQ(c.EQBands[4], 1.25);
    EXPECT_EQ(c.Language, "pt-BR") << "missing key keeps the default";

    WriteTextFile(path, "[Audio]\nSourceKind=loopback\n[Geral]\nLanguage=\"\"\n");
    LoadEncoderConfigFrom(path, c);
    EXPECT_EQ(c.AudioSourceKind, askInput);
    EXPECT_EQ(c.Language, "") << "an empty value is a value";

    WriteTextFile(path, "[Transmissao]\nPassword=" + std::string(3000, 'x') + "\n");
    LoadEncoderConfigFrom(path, c);
    EXPECT_EQ(c.Password, std::string(2047, 'x')) << "at most 2047 characters come back";
}

TEST(SettingsFile, SaveThenLoadGivesEverythingBack)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    const TEncoderConfig saved = Unusual();
    SaveEncoderConfigTo(path, saved);
    TEncoderConfig loaded;
    LoadEncoderConfigFrom(path, loaded);
    TEncoderConfig expected = saved;
    for (double& b : expected.EQBands) {
        char text[64];
        std::snprintf(text, sizeof(text), "%.15g", b);
        b = std::strtod(text, nullptr);
    }
    ExpectSameConfig(loaded, expected);

    // A second save over the file changes values in place.
    TEncoderConfig changed = saved;
    changed.Host = "new.example";
    changed.Port = 8010;
    changed.EQBands[9] = -4;
    SaveEncoderConfigTo(path, changed);
    LoadEncoderConfigFrom(path, loaded);
    EXPECT_EQ(loaded.Host, "new.example");
    EXPECT_EQ(loaded.Port, 8010);
    EXPECT_EQ(loaded.EQBands[9], -4);
    EXPECT_EQ(TempFilesBeside(path), std::vector<std::string>{});
}

TEST(SettingsFile, FreshFileLayoutAndUnknownContentKept)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    SaveEncoderConfigTo(path, Defaults());
    std::vector<std::string> sections, eqKeys;
    std::string current;
    for (const auto& line : Lines(ReadTextFile(path))) {
        if (!line.empty() && line[0] == '[') {
            current = line;
            sections.push_back(line);
        } else if (current == "[EQ]") {
            eqKeys.push_back(line.substr(0, line.find('=')));
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"[Geral]", "[Transmissao]", "[Audio]", "[Metadata]", "[EQ]",
                                                  "[FTP]", "[Gravacao]", "[Controle]", "[Alarme]", "[Reserva]",
                                                  "[Servidor2]", "[Servidor3]", "[Servidor4]"}));
    EXPECT_EQ(eqKeys, (std::vector<std::string>{"Preset", "CompressorEnabled", "Band0", "Band1", "Band2", "Band3",
                                                "Band4", "Band5", "Band6", "Band7", "Band8", "Band9"}));

    WriteTextFile(path,
                  "[Extra]\nFoo=bar\n\n"
                  "[TRANSMISSAO]\n; keep me\nhost=old.example\nCustom=1\n\n"
                  "[Other]\nZ=9\n");
    TEncoderConfig c = Defaults();
    c.Host = "new.example";
    SaveEncoderConfigTo(path, c);
    const std::string text = ReadTextFile(path);
    EXPECT_NE(text.find("[Extra]\nFoo=bar\n"), std::string::npos) << text;
    EXPECT_NE(text.find("; keep me\n"), std::string::npos);
    EXPECT_NE(text.find("Custom=1\n"), std::string::npos);
    EXPECT_NE(text.find("[Other]\nZ=9\n"), std::string::npos);
    EXPECT_EQ(text.find("old.example"), std::string::npos) << "the key is updated in place";
    EXPECT_EQ(text.find("[Transmissao]"), std::string::npos) << "no second section of the same name";
    const size_t host = text.find("=new.example\n");
    ASSERT_NE(host, std::string::npos);
    EXPECT_EQ(text.find("=new.example\n", host + 1), std::string::npos) << "written once";
    EXPECT_LT(text.find("[TRANSMISSAO]"), host);
    EXPECT_LT(host, text.find("[Other]"));
    TEncoderConfig back;
    LoadEncoderConfigFrom(path, back);
    ExpectSameConfig(back, c);
}

TEST(SettingsFile, UnwritablePathRaisesTheError)
{
    TTempDir dir;
    // Root writes through permission bits, so use paths no one can write.
    const std::string isDir = dir.File("TavixEncoder.ini");
    std::filesystem::create_directory(isDir);
    const std::string underFile = dir.File("plain") + "/TavixEncoder.ini";
    WriteTextFile(dir.File("plain"), "x");
    for (const std::string& path : {isDir, underFile}) {
        try {
            SaveEncoderConfigTo(path, Defaults());
            ADD_FAILURE() << "no error for " << path;
        } catch (const ESettingsWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(isDir));
    EXPECT_EQ(ReadTextFile(dir.File("plain")), "x");
    EXPECT_EQ(TempFilesBeside(isDir), std::vector<std::string>{});
}

// A file-size limit makes the disk "full" part-way through a save: the keys
// before the failing one stay written and the file is never half-written.
TEST(SettingsFile, SaveStopsAtTheFailingKeyAndLeavesAWholeFile)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    constexpr rlim_t KLimit = 150;
    const auto message = RunInChildren({[&] {
                                           signal(SIGXFSZ, SIG_IGN);
                                           const rlimit limit{KLimit, KLimit};
                                           setrlimit(RLIMIT_FSIZE, &limit);
                                           return SaveResult(path, Defaults());
                                       }},
                                       10000)[0];
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, "Unable to write to " + path);

    const std::string text = ReadTextFile(path);
    ASSERT_FALSE(text.empty()) << "the keys before the failing one stay written";
    EXPECT_LE(text.size(), KLimit);
    EXPECT_EQ(text.back(), '\n') << "the file ends with a whole line";
    EXPECT_EQ(text.rfind("[Geral]\nLanguage=pt-BR\n[Transmissao]\nServerType=icecast\n", 0), 0u) << text;
    EXPECT_EQ(text.find("[FTP]"), std::string::npos) << "the save stopped part-way";
    EXPECT_EQ(TempFilesBeside(path), std::vector<std::string>{});
    TEncoderConfig c;
    LoadEncoderConfigFrom(path, c);
    ExpectSameConfig(c, Defaults());
}

// ---------------------------------------------------------------- on disk

TEST(SettingsFileOnDisk, ASaveKeepsWhoMayReadThePasswords)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    const mode_t oldMask = umask(022);
    SaveEncoderConfigTo(path, Unusual());
    umask(oldMask);
    EXPECT_EQ(ModeOf(path), 0600u) << "a new file holds clear-text passwords";

    // Only root may give a file away, so the owner part needs it.
    const bool root = geteuid() == 0;
    const auto [uid, gid] = root ? TestUser() : std::pair<uid_t, gid_t>{geteuid(), getegid()};
    ASSERT_EQ(chown(path.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    SaveEncoderConfigTo(path, Defaults());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_gid, gid);

    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    TEncoderConfig c = Defaults();
    c.Password = "changed";
    SaveEncoderConfigTo(path, c);
    EXPECT_EQ(ModeOf(path), 0600u);
    TEncoderConfig back;
    LoadEncoderConfigFrom(path, back);
    EXPECT_EQ(back.Password, "changed");
}

TEST(SettingsFileOnDisk, ALinkedFileIsWrittenWhereTheLinkPoints)
{
    TTempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    std::filesystem::create_directory(dir.File("app"));
    const std::string target = dir.File("real/TavixEncoder.ini");
    const std::string link = dir.File("app/TavixEncoder.ini");
    WriteTextFile(target, "[Extra]\nFoo=1\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    std::filesystem::create_symlink("../real/TavixEncoder.ini", link);
    // A link to the link, by full path.
    const std::string outer = dir.File("outer.ini");
    std::filesystem::create_symlink(link, outer);

    TEncoderConfig c = Defaults();
    c.Host = "linked.example";
    SaveEncoderConfigTo(link, c);
    c.Port = 8123;
    SaveEncoderConfigTo(outer, c);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), "../real/TavixEncoder.ini");
    EXPECT_TRUE(std::filesystem::is_symlink(outer));
    const std::string text = ReadTextFile(target);
    EXPECT_NE(text.find("Host=linked.example\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Port=8123\n"), std::string::npos);
    EXPECT_EQ(text.rfind("[Extra]\nFoo=1\n", 0), 0u);
    EXPECT_EQ(ModeOf(target), 0640u);
    EXPECT_EQ(TempFilesBeside(target), std::vector<std::string>{});
    EXPECT_EQ(TempFilesBeside(link), std::vector<std::string>{});
    TEncoderConfig back;
    LoadEncoderConfigFrom(link, back);
    ExpectSameConfig(back, c);

    // A link to a file not made yet makes it, where the link points.
    const std::string dangling = dir.File("app/Dangling.ini");
    std::filesystem::create_symlink(dir.File("real/New.ini"), dangling);
    SaveEncoderConfigTo(dangling, c);
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir.File("real/New.ini"))));
    EXPECT_EQ(ModeOf(dir.File("real/New.ini")), 0600u);

    // Links in a circle are an error, not a loop.
    std::filesystem::create_symlink(dir.File("b.ini"), dir.File("a.ini"));
    std::filesystem::create_symlink(dir.File("a.ini"), dir.File("b.ini"));
    EXPECT_EQ(SaveResult(dir.File("a.ini"), c), "Unable to write to " + dir.File("a.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("a.ini")));
}

TEST(SettingsFileOnDisk, AFileThatCannotBeReadIsNeverSavedOver)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    TEncoderConfig operatorValues = Defaults();
    operatorValues.Host = "op.example";
    operatorValues.Password = "s3cret";
    SaveEncoderConfigTo(path, operatorValues);
    const auto [uid, gid] = TestUser();
    ASSERT_EQ(chown(dir.Path().c_str(), uid, gid), 0);
    ASSERT_EQ(chown(path.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(path.c_str(), 0200), 0);

    const auto log = RunInChildren({[&] {
                                       std::string out;
                                       TEncoderConfig c = Unusual();
                                       LoadEncoderConfigFrom(path, c);
                                       out += "host=" + c.Host + "\nload=" + SettingsLoadError(path) + "\n";
                                       c.Port = 9001; // a slider move, a start
                                       out += "save=" + SaveResult(path, c) + "\n";
                                       // Readable again, but the record holds defaults.
                                       chmod(path.c_str(), 0600);
                                       out += "save=" + SaveResult(path, c) + "\n";
                                       LoadEncoderConfigFrom(path, c);
                                       out += "host=" + c.Host + "\nload=" + SettingsLoadError(path) + "\n";
                                       c.Port = 9002;
                                       out += "save=" + SaveResult(path, c) + "\n";
                                       return out;
                                   }},
                                   10000, true)[0];
    ASSERT_TRUE(log);
    EXPECT_EQ(*log, "host=\n"
                    "load=Unable to read " + path + ": Permission denied\n"
                    "save=Unable to write to " + path + "\n"
                    "save=Unable to write to " + path + "\n"
                    "host=op.example\n"
                    "load=\n"
                    "save=ok\n");
    TEncoderConfig back;
    LoadEncoderConfigFrom(path, back);
    EXPECT_EQ(back.Host, "op.example");
    EXPECT_EQ(back.Password, "s3cret");
    EXPECT_EQ(back.Port, 9002);
}

TEST(SettingsFileOnDisk, OtherLineEndsAndUtf16AreReadAndSavedBackAsUtf8)
{
    const std::string logical = "[Transmissao]\nHost=h\xC3\xA1st.example\nPort=8123\n"
                                "[Extra]\nName=\xF0\x9F\x8E\xB5 x\n[FTP]\nUser=ops\n";
    std::u16string units;
    std::u32string codes;
    ASSERT_TRUE(DecodeUtf8(logical, codes));
    for (char32_t cp : codes) {
        if (cp >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(cp);
        }
    }
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (char16_t u : units) {
        le += static_cast<char>(u & 0xFF);
        le += static_cast<char>(u >> 8);
        be += static_cast<char>(u >> 8);
        be += static_cast<char>(u & 0xFF);
    }
    std::string crOnly = logical, crLf, utf8Bom = "\xEF\xBB\xBF";
    for (char& ch : crOnly)
        if (ch == '\n')
            ch = '\r';
    for (char ch : logical)
        crLf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    utf8Bom += crLf;

    const std::pair<const char*, std::string> forms[] = {
        {"CR only", crOnly}, {"UTF-16LE", le}, {"UTF-16BE", be}, {"UTF-8 with mark, CR LF", utf8Bom}};
    for (const auto& [name, bytes] : forms) {
        SCOPED_TRACE(name);
        TTempDir dir;
        const std::string path = dir.File("TavixEncoder.ini");
        WriteTextFile(path, bytes);
        TEncoderConfig c;
        LoadEncoderConfigFrom(path, c);
        EXPECT_EQ(c.Host, "h\xC3\xA1st.example");
        EXPECT_EQ(c.Port, 8123);
        EXPECT_EQ(c.FtpUser, "ops");
        c.Port = 8124;
        SaveEncoderConfigTo(path, c);
        const std::string text = ReadTextFile(path);
        EXPECT_EQ(text.rfind("[Transmissao]\nHost=h\xC3\xA1st.example\nPort=8124\n", 0), 0u) << text;
        EXPECT_EQ(text.find('\r'), std::string::npos);
        EXPECT_EQ(text.find('\0'), std::string::npos);
        EXPECT_NE(text.find("[Extra]\nName=\xF0\x9F\x8E\xB5 x\n"), std::string::npos);
        std::u32string check;
        EXPECT_TRUE(DecodeUtf8(text, check)) << "saved as UTF-8";
        ExpectEachSectionAndKeyOnce(text, 14); // ours and [Extra]
        TEncoderConfig back;
        LoadEncoderConfigFrom(path, back);
        ExpectSameConfig(back, c);
    }
}

TEST(SettingsFileOnDisk, OnlyARegularFileOfAtMostOneMebibyteIsReadOrWritten)
{
    TTempDir dir;
    const std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir.File("zero.ini");
    std::filesystem::create_symlink("/dev/zero", zero);
    const std::string big = dir.File("big.ini");
    WriteTextFile(big, "[Transmissao]\nHost=big.example\n");
    std::filesystem::resize_file(big, 2 * 1024 * 1024);

    const std::pair<std::string, std::string> cases[] = {
        {fifo, "not a regular file"}, {zero, "not a regular file"}, {big, "larger than 1 MiB"}};
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        const auto log = RunInChildren({[&] {
                                           TEncoderConfig c = Unusual();
                                           LoadEncoderConfigFrom(path, c);
                                           std::string out = c.Host + "|" + SettingsLoadError(path) + "|";
                                           return out + SaveResult(path, Defaults());
                                       }},
                                       5000)[0];
        ASSERT_TRUE(log) << "the load or save did not end";
        EXPECT_EQ(*log, "|Unable to read " + path + ": " + reason + "|Unable to write to " + path);
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(std::filesystem::read_symlink(zero), "/dev/zero");
    EXPECT_EQ(std::filesystem::file_size(big), 2u * 1024 * 1024);
    EXPECT_EQ(ReadTextFile(big).rfind("[Transmissao]\nHost=big.example\n", 0), 0u);
}

TEST(SettingsFileOnDisk, ConcurrentSavesNeitherFailNorDoubleTheFile)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    // Left by a save that crashed between writing and renaming.
    WriteTextFile(path + ".tmp.Zz9Yy8", "[Geral]\n");
    WriteTextFile(dir.File("TavixEncoder.ini.bak"), "mine");
    constexpr int KWriters = 4;
    constexpr int KSaves = 25;
    std::vector<std::function<std::string()>> writers;
    for (int w = 0; w < KWriters; ++w)
        writers.push_back([w, &path] {
            TEncoderConfig c = Unusual();
            c.Host = "writer" + std::to_string(w);
            for (int i = 0; i < KSaves; ++i) {
                c.Port = w * 1000 + i;
                const std::string result = SaveResult(path, c);
                if (result != "ok")
                    return result;
            }
            return std::string("ok");
        });
    const auto results = RunInChildren(writers, 60000);
    for (const auto& r : results)
        EXPECT_EQ(r.value_or("did not end"), "ok");

    const std::string text = ReadTextFile(path);
    ExpectEachSectionAndKeyOnce(text, 13);
    TEncoderConfig back;
    LoadEncoderConfigFrom(path, back);
    ASSERT_EQ(back.Host.rfind("writer", 0), 0u) << text.substr(0, 2000);
    EXPECT_EQ("writer" + std::to_string(back.Port / 1000), back.Host) << "one save's record, whole";
    EXPECT_EQ(back.Port % 1000, KSaves - 1);
    EXPECT_EQ(back.StreamName, Unusual().StreamName);
    EXPECT_EQ(TempFilesBeside(path), std::vector<std::string>{}) << "the stale temporary file is gone";
    EXPECT_EQ(ReadTextFile(dir.File("TavixEncoder.ini.bak")), "mine");
}

TEST(SettingsFileOnDisk, ALockHeldTooLongFailsTheSaveInsteadOfFreezingIt)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    SaveEncoderConfigTo(path, Defaults());
    const std::string before = ReadTextFile(path);
    const int lock = open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 0) << "the save keeps its lock file beside the settings file";
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    TEncoderConfig c = Defaults();
    c.Host = "late.example";
    const auto started = std::chrono::steady_clock::now();
    const auto result = RunInChildren({[&] { return SaveResult(path, c); }}, 15000)[0];
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result.value_or("did not end"), "Unable to write to " + path);
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(ReadTextFile(path), before);
    close(lock);
    EXPECT_EQ(SaveResult(path, c), "ok");
}

// A settings file from before several servers were possible streams to
// server 1 alone, and a save adds the new sections and changes nothing else.
TEST(SettingsFile, AOneServerFileLoadsAsOneServerAndSavesUnchangedButForTheNewSections)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    SaveEncoderConfigTo(path, Unusual());
    std::string old;
    bool inServer = false;
    for (const auto& line : Lines(ReadTextFile(path))) {
        if (!line.empty() && line[0] == '[')
            inServer = line.rfind("[Servidor", 0) == 0;
        if (!inServer)
            old += line + "\n";
    }
    WriteTextFile(path, old);
    TEncoderConfig loaded;
    LoadEncoderConfigFrom(path, loaded);
    for (const TServerRecord& s : loaded.ExtraServers) {
        EXPECT_FALSE(s.Enabled);
        EXPECT_EQ(s.Host, "");
        EXPECT_EQ(s.Codec, "audio/mpeg");
    }
    EXPECT_EQ(loaded.Host, Unusual().Host);
    SaveEncoderConfigTo(path, loaded);
    const std::string saved = ReadTextFile(path);
    ASSERT_EQ(saved.substr(0, old.size()), old) << "what was there stays as it was";
    const std::string added = saved.substr(old.size());
    EXPECT_EQ(added.rfind("[Servidor2]\nAtivo=0\n", 0), 0u) << added;
    EXPECT_NE(added.find("[Servidor3]\n"), std::string::npos);
    EXPECT_NE(added.find("[Servidor4]\n"), std::string::npos);
}

// The settings hold a shell command and open the control interface: a file
// someone other than its owner could have written commands neither, and
// says why; one that others may read while it holds a password is warned
// of.
TEST(SettingsTrust, AFileOthersCouldWriteCommandsNothingAndOneOthersMayReadIsWarnedOf)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.AlarmCommand = "logger alarme";
    c.ControlEnabled = true;
    c.ControlToken = "segredo";
    SaveEncoderConfigTo(path, c);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    std::string why;
    TEncoderConfig obeyed = ObeyableSettings(path, c, why);
    EXPECT_EQ(why, "");
    EXPECT_EQ(obeyed.AlarmCommand, "logger alarme");
    EXPECT_TRUE(obeyed.ControlEnabled);
    EXPECT_EQ(SettingsExposedWarning(path, c), "");

    const auto refused = [&](const std::string& AReason) {
        const TEncoderConfig r = ObeyableSettings(path, c, why);
        EXPECT_EQ(r.AlarmCommand, "") << AReason;
        EXPECT_FALSE(r.ControlEnabled) << AReason;
        EXPECT_NE(why.find(AReason), std::string::npos) << why;
        EXPECT_EQ(r.Password, c.Password) << "the rest is obeyed";
    };
    ASSERT_EQ(chmod(path.c_str(), 0620), 0);
    refused("outros usuarios podem alterar o arquivo");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    refused("outros usuarios podem alterar a pasta " + dir.Path());
    ASSERT_EQ(chmod(dir.Path().c_str(), 0700), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        refused("o arquivo pertence a outro usuario");
        ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
    }

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_NE(SettingsExposedWarning(path, c).find("guarda senhas e outros usuarios podem le-lo"), std::string::npos);
    TEncoderConfig noSecrets;
    DefaultEncoderConfig(noSecrets);
    EXPECT_EQ(SettingsExposedWarning(path, noSecrets), "");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(SettingsExposedWarning(path, c), "");
}
