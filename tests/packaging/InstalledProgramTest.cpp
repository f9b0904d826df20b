// The program as the package installs it: unpacked into a temporary root,
// its bin folder read-only as /usr/bin is for a user, run with no display
// and driven through Qt's VNC platform plugin (the window has no options,
// so a stream starts with a click on its start button).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "capture/PortAudioDevices.h"
#include "settings/EncoderConfig.h"
#include "tests/packaging/DebianPackage.h"
#include "tests/packaging/VncPointer.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

// The start button's middle, in the window's 980 x 640 pixels (the
// controls bar at y 545, the button at 24,18 in it, 180 x 42); the screen
// is made as large as the window, so the window lies at its origin.
constexpr int KStartX = 114;
constexpr int KStartY = 584;

ino_t InodeOf(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 ? st.st_ino : 0;
}

mode_t ModeOf(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool Has(const std::string& AText, const std::string& APart)
{
    return AText.find(APart) != std::string::npos;
}

template <class TCondition>
bool PollFor(TCondition ACondition, int ATimeoutMs)
{
    for (int waited = 0; !ACondition(); waited += 50) {
        if (waited >= ATimeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The package unpacked with dpkg -x, a home and a configuration folder of
// its own, and the program started from it on a VNC screen.
class TInstalledCopy {
public:
    TInstalledCopy()
    {
        int code = -1;
        const std::string out =
            RunCommand("dpkg-deb -x " + ShellQuote(BuiltPackage()) + " " + ShellQuote(FDir.File("root")) + " 2>&1", &code);
        if (code != 0)
            throw std::runtime_error("dpkg-deb -x failed: " + out);
        std::filesystem::create_directories(FDir.File("home"));
        std::filesystem::create_directories(FDir.File("runtime"));
        chmod(FDir.File("runtime").c_str(), 0700);
        SetBinWritable(false);
    }
    ~TInstalledCopy()
    {
        FProgram.reset();
        SetBinWritable(true); // so that the folder can be removed
    }

    std::string BinDir() const { return FDir.File("root/usr/bin"); }
    std::string ConfigHome() const { return FDir.File("config"); }
    std::string XdgSettings() const { return ConfigHome() + "/tavix-encoder/TavixEncoder.ini"; }
    std::string Log() const { return ReadTextFile(FDir.File("program.log")); }
    void SetBinWritable(bool AWritable) { chmod(BinDir().c_str(), AWritable ? 0755 : 0555); }
    pid_t Pid() const { return FProgram ? FProgram->Pid() : -1; }

    // Starts it and clicks its start button until the click is taken. A
    // start saves the settings first, replacing the file (a new inode), so
    // a click that came before the window could take it shows as none.
    void StartAndClick(const std::string& ASettings)
    {
        const int port = FreeLoopbackPort();
        FProgram = std::make_unique<TChildProcess>(
            std::vector<std::string>{BinDir() + "/TavixEncoder"},
            std::map<std::string, std::string>{
                {"QT_QPA_PLATFORM", "vnc:size=980x640:port=" + std::to_string(port)},
                {"XDG_CONFIG_HOME", ConfigHome()},
                {"XDG_RUNTIME_DIR", FDir.File("runtime")},
                {"HOME", FDir.File("home")}},
            FDir.File("program.log"));
        TVncPointer screen(port, 10000);
        ASSERT_EQ(screen.Width(), 980);
        ASSERT_EQ(screen.Height(), 640);
        const ino_t before = InodeOf(ASettings);
        for (int attempt = 0; attempt < 30; ++attempt) {
            screen.Click(KStartX, KStartY);
            if (PollFor([&] { return InodeOf(ASettings) != before; }, 500))
                return;
        }
        FAIL() << "no click on the start button was taken\n" << Log();
    }
    bool Running() { return FProgram && FProgram->Running(); }

private:
    TTempDir FDir;
    std::unique_ptr<TChildProcess> FProgram;
};

std::string SettingsText(const TEncoderConfig& AConfig)
{
    TTempDir dir;
    SaveEncoderConfigTo(dir.File("TavixEncoder.ini"), AConfig);
    return ReadTextFile(dir.File("TavixEncoder.ini"));
}

} // namespace

TEST(InstalledProgram, KeepsItsSettingsInTheUsersConfigurationFolderWithPrivateModes)
{
    TInstalledCopy copy;
    // With no server set the start goes no further than saving.
    ASSERT_NO_FATAL_FAILURE(copy.StartAndClick(copy.XdgSettings()));
    EXPECT_TRUE(copy.Running()) << copy.Log();
    EXPECT_EQ(ModeOf(copy.ConfigHome() + "/tavix-encoder"), 0700u);
    EXPECT_EQ(ModeOf(copy.XdgSettings()), 0600u) << "it holds the passwords in clear text";
    EXPECT_TRUE(Has(ReadTextFile(copy.XdgSettings()), "[Transmissao]")) << ReadTextFile(copy.XdgSettings());
    EXPECT_FALSE(std::filesystem::exists(copy.BinDir() + "/TavixEncoder.ini"));
}

TEST(InstalledProgram, AProgramFolderThatHoldsASettingsFileKeepsUsingIt)
{
    TInstalledCopy copy;
    // The file beside the program links to one on a writable disk, so the
    // save works for any user although the program's folder is read-only.
    const std::string kept = copy.ConfigHome() + "-portable/TavixEncoder.ini";
    std::filesystem::create_directories(copy.ConfigHome() + "-portable");
    WriteTextFile(kept, "[Geral]\r\nLanguage=fr-FR\r\n");
    copy.SetBinWritable(true);
    std::filesystem::create_symlink(kept, copy.BinDir() + "/TavixEncoder.ini");
    copy.SetBinWritable(false);

    ASSERT_NO_FATAL_FAILURE(copy.StartAndClick(copy.BinDir() + "/TavixEncoder.ini"));
    EXPECT_TRUE(copy.Running()) << copy.Log();
    const std::string text = ReadTextFile(kept);
    EXPECT_TRUE(Has(text, "Language=fr-FR")) << text;
    EXPECT_TRUE(Has(text, "[FTP]")) << "the whole record is saved there: " << text;
    EXPECT_FALSE(std::filesystem::exists(copy.ConfigHome())) << "the settings went to the configuration folder";
}

TEST(InstalledProgram, StreamsOggVorbisToIcecastWithTheSystemsCodecLibraries)
{
    TAudioRig rig;
    TIcecastServer server;
    int monitor = -1;
    for (const TTavixAudioDevice& device : EnumerateAudioDevices())
        if (device.Name == TAudioRig::KMonitorDevice)
            monitor = device.Index;
    ASSERT_GE(monitor, 0) << "the rig's monitor device is not listed";

    TInstalledCopy copy;
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.Password = server.SourcePassword();
    c.StreamName = "Instalado";
    c.Codec = "audio/ogg";
    c.Bitrate = 128;
    c.AudioDeviceIndex = monitor;
    c.AudioSourceKind = askInput;
    c.AudioDeviceName = "Entrada: monitor_test  [ALSA]";
    ASSERT_TRUE(std::filesystem::create_directories(copy.ConfigHome() + "/tavix-encoder"));
    // The rig's ALSA devices are named in its own configuration folder,
    // which the program's XDG_CONFIG_HOME replaces: they move in with it.
    std::filesystem::create_directories(copy.ConfigHome() + "/alsa");
    std::filesystem::copy_file(std::string(std::getenv("XDG_CONFIG_HOME")) + "/alsa/asoundrc",
                               copy.ConfigHome() + "/alsa/asoundrc");
    WriteTextFile(copy.XdgSettings(), SettingsText(c));
    rig.PlayTone(440, 30);

    ASSERT_NO_FATAL_FAILURE(copy.StartAndClick(copy.XdgSettings()));
    ASSERT_TRUE(PollFor([&] { return Has(server.StatusJson(), "\"source\""); }, 15000))
        << server.StatusJson() << "\n" << copy.Log() << ReadTextFile(copy.XdgSettings());
    EXPECT_TRUE(Has(server.StatusJson(), "Instalado")) << server.StatusJson();

    // An independent decoder hears Vorbis on the mount.
    int code = -1;
    const std::string codec = RunCommand("timeout 15 ffprobe -v error -select_streams a:0 -show_entries stream=codec_name "
                                         "-of default=nw=1:nk=1 " + ShellQuote(server.BaseUrl() + "/stream") + " 2>&1",
                                         &code);
    EXPECT_EQ(codec, "vorbis\n");

    // The encoder came from the system's loader: the unpacked folder holds
    // no library of its own.
    const std::string maps = ReadTextFile("/proc/" + std::to_string(copy.Pid()) + "/maps");
    EXPECT_TRUE(Has(maps, "/libvorbisenc.so.2")) << "libvorbisenc not loaded";
    EXPECT_TRUE(Has(maps, "/libogg.so.0"));
    EXPECT_FALSE(Has(maps, copy.BinDir() + "/lib")) << maps;
}
