#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Thread.h"
#include "settings/EncoderConfig.h"

// Date-time now, in days since 1970 (the clock of the file stamps).
double WallClockDays();

// What the now-playing file says is on air: read every 2 seconds, and
// uploaded by FTP whenever it changes (one upload at a time, one more
// remembered). Everything runs on the owner's thread, which calls Tick
// often (the window from its 40 ms timer, the headless program from its
// loop).
class NowPlayingWatcher {
public:
    using TWallClock = std::function<double()>;

    // AConfig is the owner's own settings record, read at every check.
    explicit NowPlayingWatcher(const TEncoderConfig& AConfig, TWallClock AWallClock = WallClockDays);
    NowPlayingWatcher(const NowPlayingWatcher&) = delete;
    NowPlayingWatcher& operator=(const NowPlayingWatcher&) = delete;

    // A check when 2 seconds have passed.
    void Tick();
    void CheckNoarFile();
    void StartFtpUpload();
    // The upload worker's termination handler.
    void FtpUploadFinished(TThread* Sender);
    // After a confirmed settings dialog: the next check uploads the file
    // whatever its stamp.
    void ForgetFtpStamp() { FLastFtpFileStamp = 0; }

    // The title on air by the file, as the servers get it; empty when there
    // is no file or it says nothing.
    const std::string& Title() const { return FTitle; }
    bool FtpUploadRunning() const { return FFtpUploadRunning; }
    bool FtpUploadPending() const { return FFtpUploadPending; }
    // The last check found a file it could not read (busy, too large or not
    // UTF-8) and kept the title it had.
    bool NoarReadFailed() const { return FNoarReadFailed; }

private:
    const TEncoderConfig& FConfig;
    TWallClock FWallClock;
    // Expires with the watcher: an upload that ends after the owner has
    // gone must not call back into it.
    std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);

    std::string FTitle;
    double FLastNoarCheck = 0;
    double FLastFtpFileStamp = 0;
    bool FFtpUploadRunning = false;
    bool FFtpUploadPending = false;
    bool FNoarReadFailed = false;
};
