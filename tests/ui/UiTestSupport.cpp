#include "tests/ui/UiTestSupport.h"

#include "platform/Thread.h"

#include <QLabel>
#include <QPalette>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>


bool PumpUntil(const std::function<bool()>& ACondition, int ATimeoutMs)
{
    // Only the event loop runs here: the workers' hand-offs must reach the
    // window through its own wiring.
    QElapsedTimer clock;
    clock.start();
    while (!ACondition()) {
        if (clock.elapsed() > ATimeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void PumpFor(int AMs)
{
    PumpUntil([] { return false; }, AMs);
}

bool PumpUntilEnded(const std::function<TThread*()>& AWorker, int ATimeoutMs)
{
    if (!PumpUntil([&] { return AWorker() && AWorker()->Finished(); }, ATimeoutMs))
        return false;
    // The wake-up for them was posted before the end: one pass delivers it.
    PumpFor(100);
    return true;
}

void OnNextModal(std::function<void(QWidget* ADialog)> AAction)
{
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, AAction] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        QPointer<QWidget> guard(modal);
        AAction(modal);
        if (guard && guard->isVisible()) {
            // A failed check must not leave the test waiting forever.
            ADD_FAILURE() << "the dialog was left open";
            guard->close();
        }
    });
    poll->start();
}

TEncoderConfig WriteSettings(const std::string& APath, const std::function<void(TEncoderConfig&)>& AEdit)
{
    TEncoderConfig config;
    DefaultEncoderConfig(config);
    if (AEdit)
        AEdit(config);
    SaveEncoderConfigTo(APath, config);
    return config;
}

std::string Text(const QLabel* ALabel)
{
    return ALabel->text().toStdString();
}

QColor TextColor(const QWidget* AWidget)
{
    return AWidget->palette().color(QPalette::WindowText);
}

QRect InWindow(const QWidget* AWidget)
{
    return QRect(AWidget->mapTo(AWidget->window(), QPoint(0, 0)), AWidget->size());
}

QImage Snapshot(QWidget* AWidget)
{
    return AWidget->grab().toImage();
}

void SaveWindowShot(QWidget* AWidget, const std::string& AName)
{
    // Into the build folder: a test run leaves the checkout as it was (a
    // streaming window shows a port that differs from run to run). The
    // README's pictures are copied from there when the window changes.
    const char* build = std::getenv("TAVIX_BINARY_DIR");
    const std::string folder = std::string(build ? build : ".") + "/docs";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/" + AName;
    const QImage shot = Snapshot(AWidget);
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString(path))) << path;
}
