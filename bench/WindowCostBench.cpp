// What the main window costs its user-interface thread, in ms of CPU per
// second: 20 s idle (the marquee running) and 20 s streaming the rig's tone
// to icecast2, three runs each, min / median / max; beside a lean window
// with the same 40 ms timer (idle) and seven plain boxes repainted at each
// level event of the same transmission (streaming), and a lean window that
// only moves a label as the marquee moves. Runs on a private Xvfb
// (the xcb platform, so the backing store goes to an X server as on a
// desktop), and reads the thread's time from /proc/self/task/TID/schedstat.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPainter>
#include <QTimer>

#include "engine/NativeEncoderThread.h"
#include "platform/Thread.h"
#include "tests/support/AudioRig.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/ui/RigDevices.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"
#include "ui/ThreadHandOff.h"

namespace {

constexpr int KRuns = 3;
constexpr int KSettleMs = 3000;
constexpr int KMeasureMs = 20000;

// Nanoseconds this thread has run, as the scheduler counts them.
double ThreadCpuNs()
{
    const long tid = syscall(SYS_gettid);
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns;
}

void PumpFor(int AMs)
{
    QEventLoop loop;
    QTimer::singleShot(AMs, &loop, &QEventLoop::quit);
    loop.exec();
}

// ms of CPU per second of the calling (user-interface) thread over AMs.
double MeasureUiThread(int AMs)
{
    QElapsedTimer clock;
    clock.start();
    const double ns0 = ThreadCpuNs();
    PumpFor(AMs);
    return (ThreadCpuNs() - ns0) / 1e6 / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

// The lean reference: a window of the same size and a 40 ms timer; when
// streaming, seven boxes filled to the levels of every block, read as the
// real window reads them. With
// AMarquee, the timer moves a plain label 3 pixels, as the strip's does:
// what any window that scrolls a text at that rate costs.
class TLeanWindow : public QWidget {
public:
    explicit TLeanWindow(bool AMarquee = false)
    {
        // The workers' hand-offs reach it as they reach the real window.
        ConnectThreadHandOffs(this);
        setFixedSize(980, 640);
        FTimer.setInterval(40);
        if (AMarquee) {
            FLabel = new QLabel("   Artista Exemplo - Cancao de Teste   ", this);
            FLabel->setFont(UiFont("Calibri", 16, true));
            FLabel->adjustSize();
            QObject::connect(&FTimer, &QTimer::timeout, [this] {
                const int x = FLabel->x() - 3;
                FLabel->move(x + FLabel->width() < 0 ? width() : x, 80);
            });
        } else {
            QObject::connect(&FTimer, &QTimer::timeout, [] {});
        }
        FTimer.start();
    }
    void Stream(const TEncoderConfig& AConfig)
    {
        FWorker = std::make_unique<TNativeEncoderThread>(AConfig);
        FWorker->Start();
        FMeters.setInterval(20);
        QObject::connect(&FMeters, &QTimer::timeout, [this] {
            const TLevelReading r = FWorker->Levels().Latest();
            if (r.Blocks == FShownBlocks)
                return;
            FShownBlocks = r.Blocks;
            const TAudioLevels& l = r.Levels;
            FLevels = {l.L, l.R, l.L, l.R, l.LowBand, l.MidBand, l.HighBand};
            update(BoxesRect());
        });
        FMeters.start();
    }
    ~TLeanWindow() override
    {
        if (!FWorker)
            return;
        FWorker->StopNow();
        while (!FWorker->Finished()) {
            TThread::RunQueued(20);
            QCoreApplication::processEvents();
        }
        FWorker->WaitFor();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x20, 0x22, 0x25));
        for (size_t i = 0; i < FLevels.size(); ++i) {
            const QRect box(56, 108 + 30 * static_cast<int>(i), 600, 24);
            p.fillRect(box, Qt::black);
            p.fillRect(box.adjusted(0, 0, static_cast<int>(box.width() * std::clamp(FLevels[i], 0.0, 1.0)) - 600, 0),
                       Qt::green);
        }
    }

private:
    static QRect BoxesRect() { return QRect(56, 108, 600, 30 * 7); }
    QTimer FTimer;
    QTimer FMeters;
    uint64_t FShownBlocks = 0;
    QLabel* FLabel = nullptr;
    std::unique_ptr<TNativeEncoderThread> FWorker;
    std::array<double, 7> FLevels{};
};

std::string Spread(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    char buf[96];
    std::snprintf(buf, sizeof(buf), "%6.2f / %6.2f / %6.2f", AValues.front(), AValues[AValues.size() / 2],
                  AValues.back());
    return buf;
}

// A display number nobody uses, and its Xvfb started.
std::unique_ptr<TChildProcess> StartXvfb(std::string& ADisplay)
{
    RequireProgram("Xvfb");
    for (int n = 90; n < 140; ++n) {
        if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
            std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            continue;
        ADisplay = ":" + std::to_string(n);
        auto server = std::make_unique<TChildProcess>(
            std::vector<std::string>{"Xvfb", ADisplay, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        for (int i = 0; i < 100 && !std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)); ++i)
            usleep(50000);
        if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
            return server;
    }
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    std::string display;
    const auto xvfb = StartXvfb(display);
    if (!xvfb) {
        std::fprintf(stderr, "Xvfb did not come up\n");
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    std::string themeError;
    if (!ApplyRubyGraphiteTheme(app, themeError)) {
        std::fprintf(stderr, "theme: %s\n", themeError.c_str());
        return 1;
    }
    TIcecastServer server;
    UiRig().PlayTone(880, 3600);
    TTempDir dir;
    const std::string settings = dir.File("TavixEncoder.ini");
    const std::string noar = dir.File("noar.txt");
    std::ofstream(noar) << "Artista Exemplo - Cancao de Teste\r\n";
    TEncoderConfig config;
    DefaultEncoderConfig(config);
    UseRigAndServer(config, server.Port(), server.SourcePassword());
    config.NoarPath = noar;
    SaveEncoderConfigTo(settings, config);

    std::vector<double> idle, streaming, leanIdle, leanMarquee, leanStreaming;
    for (int run = 0; run < KRuns; ++run) {
        {
            TFrmPrincipal window(settings);
            window.show();
            PumpFor(KSettleMs);
            idle.push_back(MeasureUiThread(KMeasureMs));
            window.StartEncoder();
            PumpFor(KSettleMs);
            streaming.push_back(MeasureUiThread(KMeasureMs));
            window.StopEncoder();
        }
        {
            TLeanWindow lean;
            lean.show();
            PumpFor(KSettleMs);
            leanIdle.push_back(MeasureUiThread(KMeasureMs));
            lean.Stream(config);
            PumpFor(KSettleMs);
            leanStreaming.push_back(MeasureUiThread(KMeasureMs));
        }
        {
            TLeanWindow lean(true);
            lean.show();
            PumpFor(KSettleMs);
            leanMarquee.push_back(MeasureUiThread(KMeasureMs));
        }
    }
    std::printf("User-interface thread, ms of CPU per second (min / median / max of %d runs of %d s), Xvfb %s\n",
                KRuns, KMeasureMs / 1000, display.c_str());
    std::printf("  window idle           %s\n", Spread(idle).c_str());
    std::printf("  lean window idle      %s\n", Spread(leanIdle).c_str());
    std::printf("  lean window marquee   %s\n", Spread(leanMarquee).c_str());
    std::printf("  window streaming      %s\n", Spread(streaming).c_str());
    std::printf("  lean window streaming %s\n", Spread(leanStreaming).c_str());
    return 0;
}
