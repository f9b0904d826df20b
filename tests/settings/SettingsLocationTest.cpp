// Where the program keeps its settings: beside itself when it is a portable
// copy, in the user's configuration folder when it is installed read-only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "settings/EncoderConfig.h"
#include "tests/support/TempDir.h"

namespace {

// Sets or clears a variable for one test and puts the old value back.
class TScopedEnv {
public:
    TScopedEnv(const char* AName, const char* AValue) : FName(AName)
    {
        if (const char* old = std::getenv(AName))
            FOld = old;
        if (AValue)
            setenv(AName, AValue, 1);
        else
            unsetenv(AName);
    }
    ~TScopedEnv()
    {
        if (FOld)
            setenv(FName.c_str(), FOld->c_str(), 1);
        else
            unsetenv(FName.c_str());
    }

private:
    std::string FName;
    std::optional<std::string> FOld;
};

mode_t ModeOf(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(SettingsLocation, APortableCopyKeepsItsSettingsBesideItself)
{
    TTempDir dir;
    const std::string exeDir = dir.File("bin/");
    std::filesystem::create_directory(exeDir);
    TScopedEnv xdg("XDG_CONFIG_HOME", dir.File("config").c_str());
    EXPECT_EQ(ConfigFilePathFor(exeDir), exeDir + "TavixEncoder.ini");
    EXPECT_FALSE(std::filesystem::exists(dir.File("config"))) << "a portable copy leaves the home alone";

    // A read-only folder that already holds the file still serves it.
    WriteTextFile(exeDir + "TavixEncoder.ini", "[Geral]\r\nLanguage=es\r\n");
    ASSERT_EQ(chmod(exeDir.c_str(), 0555), 0);
    EXPECT_EQ(ConfigFilePathFor(exeDir), exeDir + "TavixEncoder.ini");
    TEncoderConfig c;
    LoadEncoderConfigFrom(ConfigFilePathFor(exeDir), c);
    EXPECT_EQ(c.Language, "es");
    chmod(exeDir.c_str(), 0755);
}

TEST(SettingsLocation, AReadOnlyProgramFolderSendsThemToTheUsersConfigurationFolder)
{
    TTempDir dir;
    const std::string exeDir = dir.File("bin/");
    std::filesystem::create_directory(exeDir);
    ASSERT_EQ(chmod(exeDir.c_str(), 0555), 0);
    TScopedEnv xdg("XDG_CONFIG_HOME", dir.File("xdg/config").c_str());

    const std::string path = ConfigFilePathFor(exeDir);
    EXPECT_EQ(path, dir.File("xdg/config/tavix-encoder/TavixEncoder.ini"));
    EXPECT_EQ(ModeOf(dir.File("xdg/config/tavix-encoder")), 0700u);
    EXPECT_EQ(ModeOf(dir.File("xdg/config")), 0700u) << "a missing base folder is made private too";
    EXPECT_FALSE(std::filesystem::exists(path)) << "choosing the place writes nothing";

    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.Password = "segredo";
    const mode_t oldMask = umask(022);
    SaveEncoderConfigTo(path, c);
    umask(oldMask);
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_FALSE(std::filesystem::exists(exeDir + "TavixEncoder.ini"));
    // The next start finds the same file again.
    EXPECT_EQ(ConfigFilePathFor(exeDir), path);
    TEncoderConfig back;
    LoadEncoderConfigFrom(ConfigFilePathFor(exeDir), back);
    EXPECT_EQ(back.Password, "segredo");
    chmod(exeDir.c_str(), 0755);
}

TEST(SettingsLocation, WithoutAnAbsoluteXdgConfigHomeTheHomesConfigFolderIsUsed)
{
    TTempDir dir;
    const std::string exeDir = dir.File("bin/");
    std::filesystem::create_directory(exeDir);
    ASSERT_EQ(chmod(exeDir.c_str(), 0555), 0);
    TScopedEnv home("HOME", dir.File("home").c_str());
    for (const char* xdgValue : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        TScopedEnv xdg("XDG_CONFIG_HOME", xdgValue);
        EXPECT_EQ(ConfigFilePathFor(exeDir), dir.File("home/.config/tavix-encoder/TavixEncoder.ini"))
            << (xdgValue ? xdgValue : "(unset)");
    }
    EXPECT_FALSE(std::filesystem::exists(exeDir + "relative"));

    // A configuration folder that cannot be made leaves the file beside the
    // program, where the save then fails with its name.
    WriteTextFile(dir.File("blocker"), "x");
    TScopedEnv xdg("XDG_CONFIG_HOME", dir.File("blocker/config").c_str());
    EXPECT_EQ(ConfigFilePathFor(exeDir), exeDir + "TavixEncoder.ini");
    chmod(exeDir.c_str(), 0755);
}

// Installed by the package, the program is in a folder root may write to:
// its settings still go to the user's configuration folder.
TEST(SettingsLocation, AnInstalledCopyRunByRootKeepsNothingInTheSystemsFolders)
{
    TTempDir dir;
    TScopedEnv xdg("XDG_CONFIG_HOME", dir.File("config").c_str());
    ASSERT_FALSE(std::filesystem::exists("/usr/bin/TavixEncoder.ini"));
    EXPECT_EQ(ConfigFilePathFor("/usr/bin/"), dir.File("config/tavix-encoder/TavixEncoder.ini"));
    EXPECT_EQ(ConfigFilePathFor("/usr/local/bin/"), dir.File("config/tavix-encoder/TavixEncoder.ini"));
}

// Recordings go to the user's Music folder as the desktop names it, else
// ~/Music, else the home folder itself.
TEST(SettingsLocation, RecordingsGoToTheMusicFolderTheDesktopNames)
{
    TTempDir dir;
    const std::string home = dir.File("home");
    std::filesystem::create_directories(home + "/.config");
    TScopedEnv homeVar("HOME", home.c_str());
    TScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DefaultRecordingFolder(), home) << "no Music folder at all";
    std::filesystem::create_directory(home + "/Music");
    EXPECT_EQ(DefaultRecordingFolder(), home + "/Music");
    WriteTextFile(home + "/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                                    "XDG_DESKTOP_DIR=\"$HOME/Área de trabalho\"\n"
                                                    "XDG_MUSIC_DIR=\"$HOME/Músicas\"\n");
    EXPECT_EQ(DefaultRecordingFolder(), home + "/Music") << "a named folder that does not exist is no answer";
    std::filesystem::create_directory(home + "/Músicas");
    EXPECT_EQ(DefaultRecordingFolder(), home + "/Músicas");
    WriteTextFile(home + "/.config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/\"\n");
    EXPECT_EQ(DefaultRecordingFolder(), home + "/Music") << "\"$HOME/\" means no Music folder of its own";
}
