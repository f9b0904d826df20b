#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_EQ(A.EndpointUrl, B.EndpointUrl);
    EXPECT_EQ(A.Codec, B.Codec);
    EXPECT_EQ(A.Bitrate, B.Bitrate);
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
    c.EndpointUrl = "http://e.example";
    c.Codec = "audio/x-aac";
    c.Bitrate = 2147483647;
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
    EXPECT_EQ(c.Url, "") << "EndpointUrl is a key of its own";
    EXPECT_EQ(c.EndpointUrl, "http://only.endpoint");
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
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
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
                                                  "[FTP]"}));
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
    EXPECT_FALSE(std::filesystem::exists(isDir + ".tmp"));
}

// A file-size limit makes the disk "full" part-way through a save: the keys
// before the failing one stay written and the file is never half-written.
TEST(SettingsFile, SaveStopsAtTheFailingKeyAndLeavesAWholeFile)
{
    TTempDir dir;
    const std::string path = dir.File("TavixEncoder.ini");
    constexpr rlim_t KLimit = 150;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{KLimit, KLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string message = "no error";
        try {
            SaveEncoderConfigTo(path, Defaults());
        } catch (const ESettingsWriteError& e) {
            message = e.what();
        }
        (void)!write(pipeFds[1], message.data(), message.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string message;
    char buf[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof(buf))) > 0)
        message.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(message, "Unable to write to " + path);

    const std::string text = ReadTextFile(path);
    ASSERT_FALSE(text.empty()) << "the keys before the failing one stay written";
    EXPECT_LE(text.size(), KLimit);
    EXPECT_EQ(text.back(), '\n') << "the file ends with a whole line";
    EXPECT_EQ(text.rfind("[Geral]\nLanguage=pt-BR\n[Transmissao]\nServerType=icecast\n", 0), 0u) << text;
    EXPECT_EQ(text.find("[FTP]"), std::string::npos) << "the save stopped part-way";
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    TEncoderConfig c;
    LoadEncoderConfigFrom(path, c);
    ExpectSameConfig(c, Defaults());
}
