#include <algorithm>
#include <cmath>

#include "dsp/ChannelMap.h"
#include "dsp/Compressor.h"
#include "dsp/Equalizer.h"
#include "dsp/AudioProcessor.h"

namespace {

constexpr double KLevelScale = 3.5;
constexpr double KBandLevelScale = 5.0;

typedef int64_t TStereoBits __attribute__((vector_size(16)));

inline TStereo Abs(TStereo AValue)
{
    constexpr TStereoBits noSign = {INT64_MAX, INT64_MAX};
    return reinterpret_cast<TStereo>(reinterpret_cast<TStereoBits>(AValue) & noSign);
}

inline TStereo Clip(TStereo AValue)
{
    constexpr TStereo hi = {KClipLevel, KClipLevel};
    AValue = AValue < hi ? AValue : hi;
    return AValue > -hi ? AValue : -hi;
}

// Compressor targets of a chunk, two frames at a time; ATargets has room
// for the chunk rounded up to whole lanes of the power function.
void FillCompressorTargets(const TStereo* AFrames, int ACount, double* ATargets)
{
    for (int j = 0; j < ACount; j += 2) {
        const TStereo a = AFrames[j];
        const TStereo b = AFrames[std::min(j + 1, ACount - 1)];
        const TStereo left = __builtin_shufflevector(a, b, 0, 2);
        const TStereo right = __builtin_shufflevector(a, b, 1, 3);
        const TStereo over = CompressorOvershoot(left, right);
        ATargets[j] = over[0];
        ATargets[j + 1] = over[1];
    }
    const int padded = (ACount + KFastPowLanes - 1) / KFastPowLanes * KFastPowLanes;
    std::fill(ATargets + ACount, ATargets + padded, 1.0);
    CompressorTargets(ATargets, padded);
}

inline double Level(double ASum, double AFrames, double AScale)
{
    return std::min(1.0, ASum / AFrames * AScale);
}

} // namespace

TAudioProcessor::TAudioProcessor(const std::array<double, 10>& ABands, bool ACompressor)
    : FEQBands(ABands), FCompressorEnabled(ACompressor)
{
}

void TAudioProcessor::UpdateAudioProcessing(const std::array<double, 10>& ABands, bool ACompressor)
{
    std::lock_guard<std::mutex> lock(FAudioLock);
    FEQBands = ABands;
    FCompressorEnabled = ACompressor;
}

std::array<double, 10> TAudioProcessor::Bands() const
{
    std::lock_guard<std::mutex> lock(FAudioLock);
    return FEQBands;
}

bool TAudioProcessor::CompressorEnabled() const
{
    std::lock_guard<std::mutex> lock(FAudioLock);
    return FCompressorEnabled;
}

TAudioLevels TAudioProcessor::ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels,
                                                std::vector<float>& AOutput, int AOutChannels, int32_t ASampleRate)
{
    TEqBandGainsDb gainsDb;
    bool compressor;
    {
        std::lock_guard<std::mutex> lock(FAudioLock);
        gainsDb = FEQBands;
        compressor = FCompressorEnabled;
    }
    const TEqualizerSetup eq(PrepareEqualizer(gainsDb, ProcessingSampleRate(ASampleRate)));

    const int frames = std::max(AFrames, 0);
    const int inChannels = std::max(AInChannels, 1);
    const int outChannels = std::clamp(AOutChannels, 1, 2);
    const size_t needed = static_cast<size_t>(frames) * outChannels;
    if (AOutput.size() < needed)
        AOutput.resize(needed);
    float* out = AOutput.data();

    float compGain = FCompGain;
    // Per side: output, and the band groups of the meters.
    TStereo sumOut{};
    TEqBandSums bandSums;
    // In chunks: the compressor targets (a power function each) do not
    // depend on each other and are worked out together, several at a time;
    // only the gain itself has to run sample by sample.
    constexpr int KChunk = 256;
    static_assert(KChunk % KFastPowLanes == 0);
    float x[2 * KChunk];
    TStereo y[KChunk];
    double target[KChunk];
    for (int first = 0; first < frames; first += KChunk) {
        const int count = std::min(KChunk, frames - first);
        for (int j = 0; j < count; ++j) {
            MapToStereo(AInput + static_cast<size_t>(first + j) * inChannels, inChannels, x[2 * j],
                        x[2 * j + 1]);
        }
        EqualizeFrames(x, count, y, FEQLP_L, FEQLP_R, eq, bandSums);
        if (compressor) {
            FillCompressorTargets(y, count, target);
            for (int j = 0; j < count; ++j)
                y[j] = RoundToSingle(y[j] * StepCompressor(compGain, target[j]));
        }
        float* o = out + static_cast<size_t>(first) * outChannels;
        for (int j = 0; j < count; ++j) {
            const TStereo c = Clip(y[j]);
            if (outChannels == 1) {
                o[j] = static_cast<float>((c[0] + c[1]) * 0.5);
            } else {
                o[2 * j] = static_cast<float>(c[0]);
                o[2 * j + 1] = static_cast<float>(c[1]);
            }
            sumOut += Abs(c);
        }
    }
    FCompGain = compGain;

    const double count = frames > 0 ? frames : 1;
    return {Level(sumOut[0], count, KLevelScale), Level(sumOut[1], count, KLevelScale),
            Level((bandSums.Low[0] + bandSums.Low[1]) / 6.0, count, KBandLevelScale),
            Level((bandSums.Mid[0] + bandSums.Mid[1]) / 8.0, count, KBandLevelScale),
            Level((bandSums.High[0] + bandSums.High[1]) / 6.0, count, KBandLevelScale)};
}
