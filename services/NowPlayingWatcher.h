#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Thread.h"
#include "settings/EncoderConfig.h"

// Date-time now, in days since 1970 (the clock of the file stamps).
double WallClockDays();

// The now-playing strip of the main window without the window: reads the
// now-playing file every 2 seconds, keeps the text to show and the marquee
// position, and uploads the file by FTP whenever it changes (one upload at
// a time, one more remembered). Everything runs on the user-interface
// thread; the window calls Tick from its 40 ms timer and draws
// DisplayText() at MarqueeX().
class NowPlayingWatcher {
public:
    using TMeasureText = std::function<int(const std::string& AText)>;
    using TWallClock = std::function<double()>;

    // AConfig is the window's own settings record, read at every check.
    // AMeasureText gives the rendered width of a text in the strip's font.
    NowPlayingWatcher(const TEncoderConfig& AConfig, TMeasureText AMeasureText,
                      TWallClock AWallClock = WallClockDays);
    NowPlayingWatcher(const NowPlayingWatcher&) = delete;
    NowPlayingWatcher& operator=(const NowPlayingWatcher&) = delete;

    void SetStripWidth(int AWidth) { FStripWidth = AWidth; }
    // One timer tick: a check when 2 seconds have passed, then one marquee step.
    void Tick();
    void CheckNoarFile();
    void StartFtpUpload();
    // The upload worker's termination handler.
    void FtpUploadFinished(TThread* Sender);
    // After a confirmed settings dialog: the next check uploads the file
    // whatever its stamp.
    void ForgetFtpStamp() { FLastFtpFileStamp = 0; }

    const std::string& NoarText() const { return FNoarText; }
    // The text with its three spaces of padding on each side.
    const std::string& DisplayText() const { return FDisplayText; }
    int MarqueeX() const { return FMarqueeX; }
    bool FtpUploadRunning() const { return FFtpUploadRunning; }
    bool FtpUploadPending() const { return FFtpUploadPending; }
    // The last check found a file it could not read (busy, too large or not
    // UTF-8) and left the strip as it was.
    bool NoarReadFailed() const { return FNoarReadFailed; }

private:
    const TEncoderConfig& FConfig;
    TMeasureText FMeasureText;
    TWallClock FWallClock;
    // Expires with the watcher: an upload that ends after the window has
    // gone must not call back into it.
    std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);

    std::string FNoarText;
    std::string FDisplayText;
    double FLastNoarCheck = 0;
    double FLastFtpFileStamp = 0;
    bool FFtpUploadRunning = false;
    bool FFtpUploadPending = false;
    bool FNoarReadFailed = false;
    int FStripWidth = 0;
    int FMarqueeX = 0;
};
