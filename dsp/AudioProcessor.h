#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

// The five meter values of one processed block, each 0 to 1.
struct TAudioLevels {
    double L = 0, R = 0, LowBand = 0, MidBand = 0, HighBand = 0;
};

// A transmission's processing of its blocks, with the state it carries from
// block to block: the ten-band equalizer, the compressor, the clip, the
// encoder's channel layout, the meters and the keep-alive tone. One thread
// processes; the gains may be handed over from any thread.
class TAudioProcessor {
public:
    TAudioProcessor(const std::array<double, 10>& ABands, bool ACompressor);

    // Takes effect from the next block on.
    void UpdateAudioProcessing(const std::array<double, 10>& ABands, bool ACompressor);
    std::array<double, 10> Bands() const;
    bool CompressorEnabled() const;

    // AOutput is grown when shorter than AFrames * AOutChannels.
    TAudioLevels ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels, std::vector<float>& AOutput,
                                   int AOutChannels, int32_t ASampleRate);
    // Leaves a block shorter than AFrames * AOutChannels alone.
    void ApplyKeepAliveTone(std::vector<float>& AOutput, int AFrames, int AOutChannels, uint64_t ANowTick,
                            int32_t ASampleRate);

    // What carries over from block to block; only the processing thread
    // touches it (tests look at it to compare with their models).
    std::array<float, 9> FEQLP_L{};
    std::array<float, 9> FEQLP_R{};
    float FCompGain = 1.0f;
    uint64_t FSilenceStartTick = 0;
    uint64_t FNextKeepAliveToneTick = 0;
    uint64_t FKeepAliveToneUntilTick = 0;
    double FKeepAliveTonePhase = 0.0;

private:
    mutable std::mutex FAudioLock;
    std::array<double, 10> FEQBands{};
    bool FCompressorEnabled = false;
};
