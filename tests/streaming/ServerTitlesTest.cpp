#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// Titles into a server nobody here wrote that takes them its own way:
// Liquidsoap's harbor, where live presenters log in. It writes every title
// it sees to a file.

namespace {

class LiquidsoapHarbor {
public:
    LiquidsoapHarbor() : FPort(FreeLoopbackPort())
    {
        std::ofstream(FDir.File("harbor.liq"))
            << "settings.log.stdout.set(true)\n"
               "settings.log.level.set(4)\n"
               "settings.log.file.set(false)\n"
               "settings.init.allow_root.set(true)\n"
               "s = input.harbor(\"live\", buffer=2., max=4., port="
            << FPort << ", password=\"hackme\")\n"
            << "s = source.on_metadata(s, fun (m) -> file.write(append=true, data=\"#{m['title']}\\n\", \""
            << FDir.File("titles.txt") << "\"))\n"
            << "output.dummy(fallible=true, s)\n";
        FProcess = std::make_unique<TChildProcess>(
            std::vector<std::string>{RequireProgram("liquidsoap"), FDir.File("harbor.liq")},
            std::map<std::string, std::string>{}, FDir.File("liquidsoap.log"));
        EXPECT_TRUE(WaitForPort(FPort, 30000)) << Log();
    }

    int Port() const { return FPort; }
    std::string Titles() const { return Read("titles.txt"); }
    std::string Log() const { return Read("liquidsoap.log"); }

    bool WaitForTitle(TWorkerRun& ARun, const std::string& ATitle, int ATimeoutMs) const
    {
        for (int waited = 0; waited <= ATimeoutMs; waited += 250) {
            if (Titles().find(ATitle + "\n") != std::string::npos)
                return true;
            ARun.PumpFor(250);
        }
        return false;
    }

private:
    std::string Read(const std::string& AName) const
    {
        std::ostringstream text;
        text << std::ifstream(FDir.File(AName)).rdbuf();
        return text.str();
    }

    TTempDir FDir;
    int FPort;
    std::unique_ptr<TChildProcess> FProcess;
};

} // namespace

// MP3 titles go by the admin request, which the harbor reads. Ogg ones
// travel in the stream, a new chain per title; servers other than
// icecast2 may read titles only from the request, so they get it as well
// (Liquidsoap 2.1 answers 405 for an Ogg mount: no failure to tell), while
// icecast2 gets none, which would race its own chain.
TEST(ServerTitles, OggTitlesAreAlsoRequestedFromServersOtherThanIcecast2)
{
    PlayRigTone(660, 90);
    for (const char* codec : {"audio/mpeg", "audio/ogg"}) {
        SCOPED_TRACE(codec);
        LiquidsoapHarbor harbor;
        TEncoderConfig config = StreamConfig(codec, harbor.Port());
        config.Mount = "/live";
        config.UserName = "source";
        TWorkerRun run(config);
        ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText() << harbor.Log();
        run.PumpFor(1500);
        run.Worker().SetTitle("Primeira Faixa");
        run.PumpFor(1500);
        run.Worker().SetTitle("Segunda Faixa");
        if (std::string(codec) == "audio/mpeg") {
            EXPECT_TRUE(harbor.WaitForTitle(run, "Segunda Faixa", 10000)) << harbor.Titles() << harbor.Log();
        }
        for (int waited = 0; waited < 5000 && harbor.Log().find("value: Segunda Faixa.") == std::string::npos;
             waited += 250)
            run.PumpFor(250);
        EXPECT_NE(harbor.Log().find("HTTP Arg: song, value: Segunda Faixa."), std::string::npos) << harbor.Log();
        run.PumpFor(1000);
        EXPECT_EQ(run.FindAlarm(TAlarmKind::TitleNotSent), nullptr) << run.AlarmText();
        run.Stop();
    }

    TIcecastServer icecast;
    TWorkerRun run(StreamConfig("audio/ogg", icecast.Port()));
    ASSERT_GE(run.WaitForStatus("Transmitindo.", 10000), 0) << run.StatusText();
    run.Worker().SetTitle("Terceira Faixa");
    EXPECT_TRUE(WaitForTitle(run, icecast, "Terceira Faixa", 10000)) << icecast.StatusJson();
    run.PumpFor(1000);
    EXPECT_EQ(icecast.AccessLog().find("/admin/metadata"), std::string::npos) << icecast.AccessLog();
    EXPECT_EQ(run.FindAlarm(TAlarmKind::TitleNotSent), nullptr) << run.AlarmText();
    run.Stop();
}
