#include "services/NowPlayingWatcher.h"

#include <chrono>
#include <optional>

#include "platform/Text.h"
#include "services/FtpUploader.h"
#include "services/LocalFile.h"
#include "streaming/WireText.h"
#include "ui/Lang.h"

namespace {

constexpr double kSecondDays = 1.0 / 86400.0;
constexpr double kCheckIntervalDays = 2 * kSecondDays;
constexpr double kStampToleranceDays = kSecondDays / 1000;
constexpr int kMarqueeStep = 3;
const std::string kPadding = "   ";
// A now-playing file holds a line or two; anything this large is not one,
// and reading it would stall the window.

// Each line break (CR LF, CR or LF) becomes two spaces; breaks and blanks at
// the ends go.
std::string StripText(const std::string& AContent)
{
    std::string joined;
    joined.reserve(AContent.size() + 8);
    for (size_t i = 0; i < AContent.size(); ++i) {
        const char c = AContent[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < AContent.size() && AContent[i + 1] == '\n')
                ++i;
            joined += "  ";
        } else {
            joined += c;
        }
    }
    return Trim(joined);
}

// The file's text for the strip; none when it cannot be read as UTF-8.
std::optional<std::string> ReadNoarText(const std::string& APath)
{
    const std::optional<std::string> content = ReadUtf8File(APath, KMaxNowPlayingBytes);
    if (!content)
        return std::nullopt;
    return RepairMojibake(StripText(*content));
}

} // namespace

double WallClockDays()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() / 86400.0;
}

NowPlayingWatcher::NowPlayingWatcher(const TEncoderConfig& AConfig, TMeasureText AMeasureText,
                                     TWallClock AWallClock)
    : FConfig(AConfig), FMeasureText(std::move(AMeasureText)), FWallClock(std::move(AWallClock))
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
    FMarqueeX -= kMarqueeStep;
    if (FMarqueeX + FMeasureText(FDisplayText) < 0)
        FMarqueeX = FStripWidth;
}

void NowPlayingWatcher::CheckNoarFile()
{
    std::string text;
    FNoarReadFailed = false;
    if (!Trim(FConfig.NoarPath).empty() && FileExists(FConfig.NoarPath)) {
        const std::optional<double> stamp = FileModifiedDays(FConfig.NoarPath);
        if (stamp && (*stamp - FLastFtpFileStamp > kStampToleranceDays ||
                      FLastFtpFileStamp - *stamp > kStampToleranceDays)) {
            FLastFtpFileStamp = *stamp;
            StartFtpUpload();
        }
        std::optional<std::string> content = ReadNoarText(FConfig.NoarPath);
        if (!content) {
            // Most likely caught while its writer is at it: keep showing
            // what was there and look again at the next check.
            FNoarReadFailed = true;
            return;
        }
        text = std::move(*content);
    }
    if (text.empty())
        text = Translate(FConfig.Language, "noar_empty");
    if (text != FNoarText) {
        FNoarText = text;
        FDisplayText = kPadding + text + kPadding;
        FMarqueeX = FStripWidth;
    }
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
