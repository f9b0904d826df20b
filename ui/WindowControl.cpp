#include "ui/WindowControl.h"

#include <QMetaObject>

#include "control/TitleRequest.h"

TWindowControl::TWindowControl(QObject* AWindow, TActions AActions, std::string ANoarPath)
    : FWindow(AWindow), FActions(std::move(AActions)), FNoarPath(std::move(ANoarPath))
{
}

void TWindowControl::Update(const std::function<void(TStationState&)>& AChange)
{
    const std::lock_guard<std::mutex> guard(FLock);
    AChange(FState);
}

TStationState TWindowControl::State()
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FState;
}

void TWindowControl::OnWindowThread(std::function<void()> ACall)
{
    // A window already gone takes no calls: Qt drops calls queued for a
    // destroyed context.
    if (QObject* window = FWindow.data())
        QMetaObject::invokeMethod(window, std::move(ACall), Qt::QueuedConnection);
}

void TWindowControl::RequestStart()
{
    OnWindowThread(FActions.Start);
}

void TWindowControl::RequestStop()
{
    OnWindowThread(FActions.Stop);
}

std::string TWindowControl::RequestTitle(const std::string& ATitleUtf8)
{
    std::string title = ATitleUtf8, error;
    if (!CleanRequestedTitle(title, error))
        return error;
    if (!FNoarPath.empty())
        return WriteNowPlayingFile(FNoarPath, title);
    OnWindowThread([this, title] { FActions.Title(title); });
    return "";
}
