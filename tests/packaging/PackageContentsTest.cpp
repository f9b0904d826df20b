// What the Debian package holds and asks for, judged by Debian's own tools.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iostream>

#include <filesystem>
#include <string>

#include "tests/packaging/DebianPackage.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

bool Has(const std::string& AText, const std::string& APart)
{
    return AText.find(APart) != std::string::npos;
}

} // namespace

TEST(DebianPackage, AsksForTheLinkedLibrariesAndOffersTheLoadedCodecs)
{
    const std::string& deb = BuiltPackage();
    EXPECT_EQ(ControlField(deb, "Package"), "tavix-encoder");
    const std::string depends = ControlField(deb, "Depends");
    // dpkg-shlibdeps finds these in the executable; only the platform
    // plugin is named by hand.
    for (const char* library : {"libmp3lame0", "libportaudio2", "libqt6widgets6", "libqt6gui6", "libqt6core6",
                                "libpulse0", "libcurl4", "qt6-qpa-plugins"})
        EXPECT_TRUE(Has(depends, library)) << library << " missing from Depends: " << depends;
    for (const char* codec : {"libvorbis", "libogg", "libflac", "libopus", "libfdk"})
        EXPECT_FALSE(Has(depends, codec)) << "MP3 streams without " << codec << ": " << depends;
    const std::string recommends = ControlField(deb, "Recommends");
    for (const char* codec : {"libvorbis0a", "libvorbisenc2", "libogg0", "libflac12", "libopusenc0", "libopus0"})
        EXPECT_TRUE(Has(recommends, codec)) << codec << " missing from Recommends: " << recommends;
    EXPECT_EQ(ControlField(deb, "Suggests"), "libfdk-aac2");
}

TEST(DebianPackage, HoldsTheProgramItsMenuEntryIconsMetadataAndManual)
{
    const std::string& deb = BuiltPackage();
    const std::string files = RunCommand("dpkg-deb -c " + ShellQuote(deb));
    for (const char* file :
         {"-rwxr-xr-x root/root", "./usr/bin/TavixEncoder\n", "./usr/share/applications/br.com.tavix.TavixEncoder.desktop",
          "./usr/share/icons/hicolor/scalable/apps/tavix-encoder.svg",
          "./usr/share/icons/hicolor/16x16/apps/tavix-encoder.png",
          "./usr/share/icons/hicolor/48x48/apps/tavix-encoder.png",
          "./usr/share/icons/hicolor/256x256/apps/tavix-encoder.png",
          "./usr/share/metainfo/br.com.tavix.TavixEncoder.metainfo.xml", "./usr/share/man/man1/TavixEncoder.1.gz",
          "./usr/share/doc/tavix-encoder/copyright", "./usr/share/doc/tavix-encoder/changelog.gz"})
        EXPECT_TRUE(Has(files, file)) << file << " not in the package:\n" << files;
    // A settings file to start from, with no one's passwords in it.
    const std::string example = "./usr/share/doc/tavix-encoder/examples/TavixEncoder.ini\n";
    EXPECT_TRUE(Has(files, example)) << files;
    EXPECT_EQ(files.find("TavixEncoder.ini"), files.rfind("TavixEncoder.ini")) << files;
}

TEST(DebianPackage, PassesLintianAndTheDesktopAndAppStreamValidators)
{
    const std::string& deb = BuiltPackage();
    RequireProgram("lintian");
    int code = -1;
    // Warnings are allowed; errors are not, and neither is lintian failing.
    const std::string report = RunCommand("lintian --fail-on error " + ShellQuote(deb) + " 2>&1", &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_FALSE(Has("\n" + report, "\nE: ")) << report;

    TTempDir root;
    ASSERT_EQ(RunCommand("dpkg-deb -x " + ShellQuote(deb) + " " + ShellQuote(root.Path()) + " 2>&1", &code), "");
    ASSERT_EQ(code, 0);
    // Built like a system service. Control-flow protection is in the code
    // (its landing marks), but Debian 12's own start files carry no
    // IBT/SHSTK property, so no program linked here can be marked as such
    // (/usr/bin/ls is not either): that one check is left to the marks.
    RequireProgram("hardening-check");
    for (const char* program : {"usr/bin/TavixEncoder", "usr/bin/TavixEncoderHeadless"}) {
        const std::string path = ShellQuote(root.File(program));
        const std::string hardening = RunCommand("hardening-check --nocfprotection " + path + " 2>&1", &code);
        EXPECT_EQ(code, 0) << hardening;
        EXPECT_GT(std::atoi(RunCommand("objdump -d " + path + " | grep -c endbr64").c_str()), 1000) << program;
    }
    RequireProgram("desktop-file-validate");
    const std::string desktop = root.File("usr/share/applications/br.com.tavix.TavixEncoder.desktop");
    const std::string desktopReport = RunCommand("desktop-file-validate " + ShellQuote(desktop) + " 2>&1", &code);
    EXPECT_EQ(code, 0) << desktopReport;
    EXPECT_EQ(desktopReport, "");
    const std::string entry = ReadTextFile(desktop);
    for (const char* key : {"Categories=AudioVideo;Audio;\n", "Icon=tavix-encoder\n", "Exec=TavixEncoder\n",
                            "GenericName[pt_BR]=", "GenericName[es]=", "GenericName[fr]=", "Comment[pt_BR]=",
                            "Comment[es]=", "Comment[fr]=", "\nComment=", "\nGenericName="})
        EXPECT_TRUE(Has(entry, key)) << key;

    RequireProgram("appstreamcli");
    const std::string metainfo = root.File("usr/share/metainfo/br.com.tavix.TavixEncoder.metainfo.xml");
    const std::string appstreamReport = RunCommand("appstreamcli validate --no-net " + ShellQuote(metainfo) + " 2>&1", &code);
    EXPECT_EQ(code, 0) << appstreamReport;
    const std::string meta = ReadTextFile(metainfo);
    EXPECT_TRUE(Has(meta, "<screenshot type=\"default\">")) << meta;
    EXPECT_TRUE(Has(meta, "<release version=\"" + ControlField(deb, "Version") + "\""))
        << "the release notes follow the package's version";

    // The service without a window: its program, unit and user.
    EXPECT_TRUE(std::filesystem::exists(root.File("usr/bin/TavixEncoderHeadless")));
    const std::string unit = ReadTextFile(root.File("usr/lib/systemd/system/tavix-encoder.service"));
    for (const char* line : {"\nExecStart=/usr/bin/TavixEncoder --headless --config /etc/tavix-encoder/TavixEncoder.ini "
                             "--control-socket /run/tavix-encoder/control.sock\n",
                             "\nRuntimeDirectoryMode=0700\n", "\nRestart=on-failure\n", "\nUser=tavix-encoder\n",
                             "\nWantedBy=multi-user.target\n"})
        EXPECT_TRUE(Has(unit, line)) << line << unit;
    EXPECT_TRUE(Has(ReadTextFile(root.File("usr/lib/sysusers.d/tavix-encoder.conf")), "\nu tavix-encoder "));
    // The desktop user's unit: the user's own settings and sound server.
    const std::string userUnit = ReadTextFile(root.File("usr/lib/systemd/user/tavix-encoder.service"));
    for (const char* line : {"\nExecStart=/usr/bin/TavixEncoder --headless --control-socket %t/tavix-encoder/control.sock\n",
                             "\nRuntimeDirectoryMode=0700\n", "\nRestart=on-failure\n",
                             "\nWantedBy=default.target\n"})
        EXPECT_TRUE(Has(userUnit, line)) << line << userUnit;
    EXPECT_FALSE(Has(userUnit, "User=")) << userUnit;
    // systemd's own judge, on copies whose program path leads into the
    // unpacked package (the package is not installed on this machine).
    RequireProgram("systemd-analyze");
    for (const std::string& text : {unit, userUnit}) {
        TTempDir units;
        std::string copy = text;
        const std::string exec = "ExecStart=/usr/bin/TavixEncoder ";
        copy.replace(copy.find(exec), exec.size(), "ExecStart=" + root.File("usr/bin/TavixEncoder") + " ");
        WriteTextFile(units.File("tavix-encoder.service"), copy);
        const std::string verdict = RunCommand(
            "systemd-analyze verify --man=no " + ShellQuote(units.File("tavix-encoder.service")) + " 2>&1", &code);
        EXPECT_EQ(code, 0) << verdict;
        EXPECT_EQ(verdict, "");
    }
    // The system unit is sandboxed as far as the program allows: systemd's
    // exposure score (10 is none at all) stays low.
    TTempDir sandbox;
    WriteTextFile(sandbox.File("tavix-encoder.service"), unit);
    const std::string security = RunCommand(
        "systemd-analyze security --offline=yes " + ShellQuote(sandbox.File("tavix-encoder.service")) + " 2>&1", &code);
    const size_t level = security.find("Overall exposure level for tavix-encoder.service: ");
    ASSERT_NE(level, std::string::npos) << security;
    const double exposure = std::stod(security.substr(level + 50));
    std::cout << "systemd-analyze security: " << exposure << "\n";
    EXPECT_LT(exposure, 3.0) << security;

    // The settings folder the package makes: root's and the service's
    // only, with a settings file to start from that a second run (an
    // upgrade) leaves as the operator edited it.
    TTempDir control;
    ASSERT_EQ(RunCommand("dpkg-deb -e " + ShellQuote(deb) + " " + ShellQuote(control.Path()) + " 2>&1", &code), "");
    const std::string postinst = "DPKG_ROOT=" + ShellQuote(root.Path()) + " sh " +
                                 ShellQuote(control.File("postinst")) + " configure 2>&1";
    EXPECT_EQ(RunCommand(postinst, &code), "");
    EXPECT_EQ(code, 0);
    struct stat folder {}, settings {};
    ASSERT_EQ(stat(root.File("etc/tavix-encoder").c_str(), &folder), 0);
    ASSERT_EQ(stat(root.File("etc/tavix-encoder/TavixEncoder.ini").c_str(), &settings), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0750u);
    EXPECT_EQ(settings.st_mode & 07777, 0640u);
    for (const char* line : {"\n[Transmissao]\n", "\nPassword=\n", "\nToken=\n"})
        EXPECT_TRUE(Has(ReadTextFile(root.File("etc/tavix-encoder/TavixEncoder.ini")), line)) << line;
    WriteTextFile(root.File("etc/tavix-encoder/TavixEncoder.ini"), "[Transmissao]\nHost=radio.example\n");
    RunCommand(postinst, &code);
    EXPECT_EQ(ReadTextFile(root.File("etc/tavix-encoder/TavixEncoder.ini")), "[Transmissao]\nHost=radio.example\n");

    // The manual reads without complaints from groff.
    const std::string manual = RunCommand(
        "zcat " + ShellQuote(root.File("usr/share/man/man1/TavixEncoder.1.gz")) +
            " | groff -man -Tutf8 -ww -z 2>&1", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(manual, "");
}
