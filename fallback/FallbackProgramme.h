#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "fallback/FallbackSource.h"

// The fallback programme made ahead on a thread of its own, so the audio
// thread only copies what is ready and never waits for a file or a stream.
class TFallbackProgramme {
public:
    // AMakeSource runs on the programme's thread with the stop flag to
    // pass on (opening a channel or a stream may block).
    using TSourceMaker = std::function<std::unique_ptr<TFallbackSource>(const std::atomic<bool>& AStop)>;

    TFallbackProgramme(TSourceMaker AMakeSource, int32_t ASampleRate, int AChannels);
    ~TFallbackProgramme();
    TFallbackProgramme(const TFallbackProgramme&) = delete;
    TFallbackProgramme& operator=(const TFallbackProgramme&) = delete;

    // AFrames frames into AOut; what is not ready yet is silence. Audio
    // thread.
    void Read(float* AOut, int AFrames);

private:
    void Run(TSourceMaker AMakeSource);

    const int FChannels;
    // How far ahead a folder is decoded, and how much of a live source is
    // kept (older audio is dropped, so it plays from near now).
    const size_t FAheadSamples;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::condition_variable FRoom;
    std::deque<float> FReady;
    std::thread FThread;
};
