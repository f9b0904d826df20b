#include "services/NowPlayingWatcher.h"

#include <chrono>
#include <optional>

#include "platform/Text.h"
#include "services/FtpUploader.h"
#include "services/LocalFile.h"
#include "services/NoarTitle.h"

namespace {

constexpr double kSecondDays = 1.0 / 86400.0;
constexpr double kCheckIntervalDays = 2 * kSecondDays;
constexpr double kStampToleranceDays = kSecondDays / 1000;

} // namespace

double WallClockDays()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() / 86400.0;
}

NowPlayingWatcher::NowPlayingWatcher(const TEncoderConfig& AConfig, TWallClock AWallClock)
    : FConfig(AConfig), FWallClock(std::move(AWallClock))
{
}

void NowPlayingWatcher::Tick()
{
    const double now = FWallClock();
    // A clock set back must not hold the checks off until it catches up.
    if (now - FLastNoarCheck > kCheckIntervalDays || now < FLastNoarCheck) {
        FLastNoarCheck = now;
        CheckNoarFile();
    }
}

void NowPlayingWatcher::CheckNoarFile()
{
    if (!Trim(FConfig.NoarPath).empty() && FileExists(FConfig.NoarPath)) {
        const std::optional<double> stamp = FileModifiedDays(FConfig.NoarPath);
        if (stamp && (*stamp - FLastFtpFileStamp > kStampToleranceDays ||
                      FLastFtpFileStamp - *stamp > kStampToleranceDays)) {
            FLastFtpFileStamp = *stamp;
            StartFtpUpload();
        }
    }
    // Most likely caught while its writer is at it: the title stays and the
    // next check looks again.
    FNoarReadFailed = !ReadNoarTitle(FConfig, FTitle);
}

void NowPlayingWatcher::StartFtpUpload()
{
    if (!FConfig.FtpEnabled || Trim(FConfig.NoarPath).empty() || !FileExists(FConfig.NoarPath))
        return;
    if (FFtpUploadRunning) {
        FFtpUploadPending = true;
        return;
    }
    FFtpUploadRunning = true;
    FFtpUploadPending = false;
    auto* upload = new TTavixFtpUploadThread(FConfig, FConfig.NoarPath);
    upload->OnTerminate = [this, alive = std::weak_ptr<int>(FLifeToken)](TThread* ASender) {
        if (!alive.expired())
            FtpUploadFinished(ASender);
    };
    upload->Start();
}

void NowPlayingWatcher::FtpUploadFinished(TThread* /*Sender*/)
{
    FFtpUploadRunning = false;
    if (FFtpUploadPending) {
        FFtpUploadPending = false;
        StartFtpUpload();
    }
}
