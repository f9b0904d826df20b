#pragma once

#include <array>
#include <atomic>
#include <mutex>

#include "engine/NativeEncoderThread.h"
#include "ui/MainWindow.h"

// The real streaming worker, opened up so a test can see what reached it
// through UpdateAudioProcessing, and count how often one was destroyed.
class TProbeEncoder : public TNativeEncoderThread {
public:
    using TNativeEncoderThread::TNativeEncoderThread;
    ~TProbeEncoder() override { ++Destroyed; }

    std::array<double, 10> Bands() const { return FProcessor.Bands(); }
    bool Compressor() const { return FProcessor.CompressorEnabled(); }

    static inline std::atomic<int> Destroyed{0};
};

// The real main window, handing out probe workers.
class TProbeWindow : public TFrmPrincipal {
public:
    using TFrmPrincipal::TFrmPrincipal;
    TProbeEncoder* Probe() const { return static_cast<TProbeEncoder*>(Encoder()); }

protected:
    TNativeEncoderThread* CreateEncoderThread(const TEncoderConfig& AConfig) override
    {
        return new TProbeEncoder(AConfig);
    }
};
