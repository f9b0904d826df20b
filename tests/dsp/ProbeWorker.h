#pragma once

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/NativeEncoderThread.h"
#include "settings/EncoderConfig.h"

// A streaming worker that is never started: the test drives its processing
// members directly on the main thread and keeps each block's levels.
class TProbeWorker : public TNativeEncoderThread {
public:
    struct TLevels {
        double L, R, Low, Mid, High;
    };

    explicit TProbeWorker(const TEncoderConfig& AConfig) : TNativeEncoderThread(AConfig) {}

    std::vector<TLevels> Levels;

    using TNativeEncoderThread::FConfig;
    // The processing state, as the worker's processor carries it.
    float& FCompGain = FProcessor.FCompGain;
    std::array<float, 9>& FEQLP_L = FProcessor.FEQLP_L;
    std::array<float, 9>& FEQLP_R = FProcessor.FEQLP_R;
    double& FKeepAliveTonePhase = FProcessor.FKeepAliveTonePhase;
    uint64_t& FKeepAliveToneUntilTick = FProcessor.FKeepAliveToneUntilTick;
    uint64_t& FNextKeepAliveToneTick = FProcessor.FNextKeepAliveToneTick;
    uint64_t& FSilenceStartTick = FProcessor.FSilenceStartTick;

    // Processes AInput (interleaved, AInChannels) and returns the output.
    std::vector<float> Process(const std::vector<float>& AInput, int AInChannels,
                               int AOutChannels = 2)
    {
        std::vector<float> out;
        ProcessAudioBlock(AInput.data(), static_cast<int>(AInput.size()) / AInChannels,
                          AInChannels, out, AOutChannels);
        const TAudioLevels l = TNativeEncoderThread::Levels().Latest().Levels;
        Levels.push_back({l.L, l.R, l.LowBand, l.MidBand, l.HighBand});
        return out;
    }
};

inline TEncoderConfig ProcessingConfig(int ASampleRate = 44100, bool ACompressor = false)
{
    TEncoderConfig cfg;
    DefaultEncoderConfig(cfg);
    cfg.SampleRate = ASampleRate;
    cfg.CompressorEnabled = ACompressor;
    return cfg;
}

// The same sine on every channel, interleaved.
inline std::vector<float> Sine(double AFreqHz, double ARate, int AFrames, int AChannels,
                               double AAmplitude)
{
    std::vector<float> out(static_cast<size_t>(AFrames) * AChannels);
    for (int n = 0; n < AFrames; ++n)
        for (int c = 0; c < AChannels; ++c)
            out[static_cast<size_t>(n) * AChannels + c] = static_cast<float>(
                AAmplitude * std::sin(2 * std::numbers::pi * AFreqHz * n / ARate));
    return out;
}

// Interleaved frames that repeat one frame.
inline std::vector<float> Repeat(const std::vector<float>& AFrame, int AFrames)
{
    std::vector<float> out;
    for (int n = 0; n < AFrames; ++n)
        out.insert(out.end(), AFrame.begin(), AFrame.end());
    return out;
}
