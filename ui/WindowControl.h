#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <QObject>
#include <QPointer>

#include "control/StationState.h"

// The control interface's view of the window: a copy of what the window
// shows, kept up to date by the window's thread, and the window's own
// start, stop and title actions, run on that thread as queued calls so a
// request never waits for the transmission.
class TWindowControl : public TControlTarget {
public:
    struct TActions {
        std::function<void()> Start;
        std::function<void()> Stop;
        // A title for the servers when there is no now-playing file.
        std::function<void(const std::string&)> Title;
    };
    // ANoarPath: the now-playing file titles go through, if any.
    TWindowControl(QObject* AWindow, TActions AActions, std::string ANoarPath);

    // On the window's thread.
    void Update(const std::function<void(TStationState&)>& AChange);

    TStationState State() override;
    void RequestStart() override;
    void RequestStop() override;
    std::string RequestTitle(const std::string& ATitleUtf8) override;

private:
    void OnWindowThread(std::function<void()> ACall);

    QPointer<QObject> FWindow;
    TActions FActions;
    const std::string FNoarPath;
    std::mutex FLock;
    TStationState FState;
};
