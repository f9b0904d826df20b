#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureSource.h"

// What the capture has been through, for the operator; any thread reads it.
struct TCaptureHealth {
    std::atomic<bool> Lost{false};
    // Times the channel was opened again after it failed.
    std::atomic<uint32_t> Reopens{0};
    // Times audio was lost because the channel was not read in time.
    std::atomic<uint64_t> Overruns{0};
    // Seconds of silence handed out in the channel's place.
    std::atomic<double> BridgedSeconds{0.0};
    // How far the channel's clock runs from the wall clock, in parts per
    // million (fast above zero), once a minute of it was measured; else 0.
    std::atomic<double> DriftPpm{0.0};
};

// A capture that outlives its channel. When the stream fails (the sound
// server restarted, the device pulled, no audio for seconds) it hands out
// silent blocks at the wall clock's pace, so the outputs and the servers
// see no gap, and opens the same channel again after 0.25, 0.5 and 1 s,
// then every 2 s, for as long as it is read.
class THealingCapture : public TCaptureSource {
public:
    // The channel opened again, or null with why.
    using TOpener = std::function<std::unique_ptr<TCaptureSource>(std::string& AWhy)>;
    // AWhy: why the channel was lost; empty once it is back.
    using TChange = std::function<void(const std::string& AWhy)>;

    // AOpen: the channel, open, whose channel count is kept whatever a
    // reopened one has; or null, lost since the start for AWhyLost, with
    // AChannels a frame.
    THealingCapture(std::unique_ptr<TCaptureSource> AOpen, TOpener AOpener, int32_t ASampleRate, TChange AChange,
                    TCaptureHealth& AHealth, int AChannels = 2, const std::string& AWhyLost = {});

    int Channels() const override { return FChannels; }
    // Always true: silence stands in while the channel is lost.
    bool ReadBlock(float* ABuffer, int AFrames, std::string& AError) override;

private:
    using TClock = std::chrono::steady_clock;

    void Lose(const std::string& AWhy);
    bool Reopen();
    // Silence for AFrames, given when the wall clock says they are due.
    void Bridge(float* ABuffer, int AFrames);
    // ABuffer from the live channel, in this capture's channel count.
    bool ReadLive(float* ABuffer, int AFrames, std::string& AError);
    void MeasureDrift(int AFrames);

    std::unique_ptr<TCaptureSource> FSource;
    // The live source's overruns already counted in the health.
    uint64_t FOverrunsTold = 0;
    TOpener FOpener;
    int32_t FSampleRate;
    TChange FChange;
    TCaptureHealth& FHealth;
    int FChannels;
    std::vector<float> FConverted;

    int FAttempt = 0;
    TClock::time_point FNextAttempt{};
    // When the next silent block is due.
    TClock::time_point FDue{};
    // Since the channel was (re)opened: its frames against the clock, and
    // the sums of their straight-line fit.
    TClock::time_point FLiveSince{};
    uint64_t FLiveFrames = 0;
    struct TFit {
        double N = 0, T = 0, F = 0, TT = 0, TF = 0;
    } FFit;
};
