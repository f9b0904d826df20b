#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/Equalizer.h"
#include "dsp/AudioProcessor.h"
#include "dsp/Peak.h"

namespace {

// Some servers and listeners drop a stream that carries digital silence
// for long: bridge it with short, barely audible bursts.
// As a float, so a stored peak of 0.0005 compares equal.
constexpr float KSilencePeak = 0.0005f;
constexpr uint64_t KFirstBurstAfterMs = 5000;
constexpr uint64_t KBurstLengthMs = 300;
constexpr uint64_t KBurstPeriodMs = 5000;
constexpr double KToneStep = 7539.822368615503; // 2 pi x 1200 Hz
constexpr double KToneAmplitude = 0.0008;

} // namespace

void TAudioProcessor::ApplyKeepAliveTone(std::vector<float>& AOutput, int AFrames, int AOutChannels,
                                         uint64_t ANowTick, int32_t ASampleRate)
{
    const size_t frames = static_cast<size_t>(std::max(AFrames, 0));
    const size_t channels = static_cast<size_t>(std::clamp(AOutChannels, 1, 2));
    const size_t count = frames * channels;
    if (frames == 0 || AOutput.size() < count)
        return;
    float* out = AOutput.data();

    if (PeakOf(out, count) >= KSilencePeak) {
        FSilenceStartTick = 0;
        FNextKeepAliveToneTick = 0;
        FKeepAliveToneUntilTick = 0;
        FKeepAliveTonePhase = 0.0;
        return;
    }
    if (FSilenceStartTick == 0) {
        FSilenceStartTick = ANowTick;
        FNextKeepAliveToneTick = ANowTick + KFirstBurstAfterMs;
        FKeepAliveToneUntilTick = 0;
        return;
    }
    if (FKeepAliveToneUntilTick == 0 && ANowTick >= FNextKeepAliveToneTick) {
        FKeepAliveToneUntilTick = ANowTick + KBurstLengthMs;
        FNextKeepAliveToneTick = ANowTick + KBurstPeriodMs;
    }
    if (FKeepAliveToneUntilTick == 0)
        return;
    if (ANowTick > FKeepAliveToneUntilTick) {
        FKeepAliveToneUntilTick = 0;
        return;
    }
    const double step = KToneStep / ProcessingSampleRate(ASampleRate);
    constexpr double twoPi = 2.0 * std::numbers::pi;
    double phase = FKeepAliveTonePhase;
    for (size_t n = 0; n < frames; ++n) {
        const float s = static_cast<float>(std::sin(phase) * KToneAmplitude);
        phase += step;
        if (phase >= twoPi)
            phase -= twoPi;
        std::fill_n(out + n * channels, channels, s);
    }
    FKeepAliveTonePhase = phase;
}
