#include "capture/HealingCapture.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace {

constexpr int KPausesMs[] = {250, 500, 1000, 2000};
// A fresh stream first hands over what its server buffered.
constexpr double KSettleSeconds = 2;
// Less than this says little of a sound card's clock.
constexpr double KDriftAfterSeconds = 60;

} // namespace

THealingCapture::THealingCapture(std::unique_ptr<TCaptureSource> AOpen, TOpener AOpener, int32_t ASampleRate,
                                 TChange AChange, TCaptureHealth& AHealth, int AChannels, const std::string& AWhyLost)
    : FSource(std::move(AOpen)), FOpener(std::move(AOpener)), FSampleRate(std::max(ASampleRate, 1)),
      FChange(std::move(AChange)), FHealth(AHealth), FChannels(FSource ? FSource->Channels() : AChannels)
{
    FLiveSince = TClock::now();
    if (!FSource)
        Lose(AWhyLost);
}

bool THealingCapture::ReadBlock(float* ABuffer, int AFrames, std::string& AError)
{
    if (FSource || Reopen()) {
        std::string why;
        if (ReadLive(ABuffer, AFrames, why)) {
            const uint64_t overruns = FSource->Overruns();
            FHealth.Overruns += overruns - std::exchange(FOverrunsTold, overruns);
            MeasureDrift(AFrames);
            return true;
        }
        Lose(why);
    }
    Bridge(ABuffer, AFrames);
    AError.clear();
    return true;
}

bool THealingCapture::ReadLive(float* ABuffer, int AFrames, std::string& AError)
{
    const int channels = FSource->Channels();
    if (channels == FChannels)
        return FSource->ReadBlock(ABuffer, AFrames, AError);
    FConverted.resize(static_cast<size_t>(AFrames) * static_cast<size_t>(channels));
    if (!FSource->ReadBlock(FConverted.data(), AFrames, AError))
        return false;
    for (size_t i = 0; i < static_cast<size_t>(AFrames); ++i) {
        const float* in = &FConverted[i * static_cast<size_t>(channels)];
        if (FChannels == 1)
            ABuffer[i] = (in[0] + in[channels - 1]) * 0.5f;
        else
            ABuffer[2 * i] = ABuffer[2 * i + 1] = in[0];
    }
    return true;
}

void THealingCapture::Lose(const std::string& AWhy)
{
    FSource.reset();
    FOverrunsTold = 0;
    FAttempt = 0;
    const TClock::time_point now = TClock::now();
    FNextAttempt = now + std::chrono::milliseconds(KPausesMs[0]);
    FDue = now;
    FHealth.Lost = true;
    std::string why = AWhy;
    while (!why.empty() && (why.back() == '.' || why.back() == ' '))
        why.pop_back();
    FChange(why.empty() ? "?" : why);
}

bool THealingCapture::Reopen()
{
    if (TClock::now() < FNextAttempt)
        return false;
    std::string why;
    FSource = FOpener(why);
    if (!FSource) {
        FAttempt = std::min<int>(FAttempt + 1, std::size(KPausesMs) - 1);
        FNextAttempt = TClock::now() + std::chrono::milliseconds(KPausesMs[FAttempt]);
        return false;
    }
    ++FHealth.Reopens;
    FHealth.Lost = false;
    FLiveSince = TClock::now();
    FLiveFrames = 0;
    FFit = {};
    FChange("");
    return true;
}

void THealingCapture::Bridge(float* ABuffer, int AFrames)
{
    std::this_thread::sleep_until(FDue);
    // A slow attempt to reopen is caught up at once, block by block.
    FDue += std::chrono::microseconds(int64_t{AFrames} * 1000000 / FSampleRate);
    std::fill_n(ABuffer, static_cast<size_t>(AFrames) * static_cast<size_t>(FChannels), 0.0f);
    FHealth.BridgedSeconds = FHealth.BridgedSeconds + double(AFrames) / FSampleRate;
}

void THealingCapture::MeasureDrift(int AFrames)
{
    // The slope of the frames read against the time read, by least
    // squares: a block read late or early weighs next to nothing over
    // minutes, as the buffered start would if it were counted.
    FLiveFrames += static_cast<uint64_t>(AFrames);
    const double t = std::chrono::duration<double>(TClock::now() - FLiveSince).count();
    if (t < KSettleSeconds)
        return;
    const double f = double(FLiveFrames) / FSampleRate;
    FFit.N += 1;
    FFit.T += t;
    FFit.F += f;
    FFit.TT += t * t;
    FFit.TF += t * f;
    const double spread = FFit.N * FFit.TT - FFit.T * FFit.T;
    if (t < KDriftAfterSeconds || spread <= 0)
        return;
    const double slope = (FFit.N * FFit.TF - FFit.T * FFit.F) / spread;
    FHealth.DriftPpm = (slope - 1.0) * 1e6;
}
