#include <algorithm>
#include <cmath>

#include "dsp/ChannelMap.h"
#include "dsp/Compressor.h"
#include "dsp/Equalizer.h"
#include "streaming/NativeEncoderThread.h"

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

// |band| summed over a group of bands, per side.
inline TStereo AbsSum(const TEqStereoBands& ABands, int AFrom, int ATo)
{
    TStereo sum = Abs(ABands[AFrom]);
#pragma GCC unroll 4
    for (int i = AFrom + 1; i <= ATo; ++i)
        sum += Abs(ABands[i]);
    return sum;
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

void TNativeEncoderThread::ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels,
                                             std::vector<float>& AOutput, int AOutChannels)
{
    TEqBandGainsDb gainsDb;
    bool compressor;
    {
        std::lock_guard<std::mutex> lock(FAudioLock);
        gainsDb = FEQBands;
        compressor = FCompressorEnabled;
    }
    const TEqStereoSetup eq(PrepareEqualizer(gainsDb, ProcessingSampleRate(FConfig.SampleRate)));

    const int frames = std::max(AFrames, 0);
    const int inChannels = std::max(AInChannels, 1);
    const int outChannels = std::clamp(AOutChannels, 1, 2);
    const size_t needed = static_cast<size_t>(frames) * outChannels;
    if (AOutput.size() < needed)
        AOutput.resize(needed);
    float* out = AOutput.data();

    TEqStereoStates lp;
    for (int k = 0; k < KEqSplitCount; ++k)
        lp[k] = TStereo{FEQLP_L[k], FEQLP_R[k]};
    float compGain = FCompGain;
    TEqStereoBands bands;
    // Per side: output, then the low, mid and high band groups.
    TStereo sumOut{}, sumLow{}, sumMid{}, sumHigh{};
    // In chunks: the compressor targets (a power function each) do not
    // depend on each other and are worked out together, several at a time;
    // only the gain itself has to run sample by sample.
    constexpr int KChunk = 256;
    static_assert(KChunk % KFastPowLanes == 0);
    TStereo y[KChunk];
    double target[KChunk];
    for (int first = 0; first < frames; first += KChunk) {
        const int count = std::min(KChunk, frames - first);
        for (int j = 0; j < count; ++j) {
            float l, r;
            MapToStereo(AInput + static_cast<size_t>(first + j) * inChannels, inChannels, l, r);
            y[j] = EqualizeFrame(TStereo{l, r}, lp, eq, bands);
            sumLow += AbsSum(bands, 0, 2);
            sumMid += AbsSum(bands, 3, 6);
            sumHigh += AbsSum(bands, 7, 9);
        }
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
    for (int k = 0; k < KEqSplitCount; ++k) {
        FEQLP_L[k] = static_cast<float>(lp[k][0]);
        FEQLP_R[k] = static_cast<float>(lp[k][1]);
    }
    FCompGain = compGain;

    const double count = frames > 0 ? frames : 1;
    PostLevel(Level(sumOut[0], count, KLevelScale), Level(sumOut[1], count, KLevelScale),
              Level((sumLow[0] + sumLow[1]) / 6.0, count, KBandLevelScale),
              Level((sumMid[0] + sumMid[1]) / 8.0, count, KBandLevelScale),
              Level((sumHigh[0] + sumHigh[1]) / 6.0, count, KBandLevelScale));
}
