#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/EncoderConfig.h"

#include <QColor>
#include <QObject>
#include <QRect>

class QImage;
class QLabel;
class QWidget;

class TThread;

// A label's text, a widget's text colour, a widget's place in its window.
std::string Text(const QLabel* ALabel);
QColor TextColor(const QWidget* AWidget);
QRect InWindow(const QWidget* AWidget);

// Runs the event loop until ACondition holds or ATimeoutMs has passed;
// returns whether it holds.
bool PumpUntil(const std::function<bool()>& ACondition, int ATimeoutMs);
// Runs the event loop for AMs milliseconds.
void PumpFor(int AMs);
// Runs the event loop until the worker AWorker gives has ended and its last
// words, queued as it ended, have reached the window.
bool PumpUntilEnded(const std::function<TThread*()>& AWorker, int ATimeoutMs);

// Arranges for AAction to run on the next modal dialog that opens (the
// window's message boxes and the settings dialog are modal); AAction
// must close it (one left open counts as a failure and is closed). Polls
// every 20 ms.
void OnNextModal(std::function<void(QWidget* ADialog)> AAction);

// Settings for tests: the defaults with the changes of AEdit, written to
// APath.
TEncoderConfig WriteSettings(const std::string& APath, const std::function<void(TEncoderConfig&)>& AEdit = {});

// The widget as it shows on screen.
QImage Snapshot(QWidget* AWidget);
// Saves the widget's picture as docs/<AName> in the build folder.
void SaveWindowShot(QWidget* AWidget, const std::string& AName);

// The control AName of AWindow, as its object name says; an array's
// AIndex-th. A missing one fails the test at once.
template <class TControl>
TControl* Control(const QObject& AWindow, const char* AName)
{
    TControl* control = AWindow.findChild<TControl*>(QString::fromLatin1(AName));
    if (!control)
        throw std::runtime_error(std::string("no control named ") + AName);
    return control;
}
template <class TControl>
TControl* Control(const QObject& AWindow, const char* AName, size_t AIndex)
{
    return Control<TControl>(AWindow, (AName + std::to_string(AIndex)).c_str());
}
// Every control of the array AName, in index order.
template <class TControl>
std::vector<TControl*> Controls(const QObject& AWindow, const char* AName)
{
    std::vector<TControl*> out;
    while (TControl* control = AWindow.findChild<TControl*>(QString::fromStdString(AName + std::to_string(out.size()))))
        out.push_back(control);
    return out;
}
