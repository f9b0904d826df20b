#include "ui/ThreadHandOff.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/Thread.h"

namespace {

constexpr int KSafetyPumpMs = 100;

void RunHandOffs()
{
    TThread::RunQueued(0);
}

} // namespace

void ConnectThreadHandOffs(QObject* AOwner)
{
    TThread::SetMainThread();
    QCoreApplication* app = QCoreApplication::instance();
    TThread::SetWakeMainThread([app] { QMetaObject::invokeMethod(app, &RunHandOffs, Qt::QueuedConnection); });
    QObject::connect(AOwner, &QObject::destroyed, [] { TThread::SetWakeMainThread(nullptr); });

    auto* pump = new QTimer(AOwner);
    pump->setInterval(KSafetyPumpMs);
    QObject::connect(pump, &QTimer::timeout, &RunHandOffs);
    pump->start();
}
