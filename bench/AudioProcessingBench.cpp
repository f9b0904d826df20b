// Processing cost of one captured block (equalizer, compressor, clip,
// meters, keep-alive check) as a multiple of real time, on one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/NativeEncoderThread.h"
#include "platform/Tick.h"
#include "settings/EncoderConfig.h"

namespace {

constexpr int KFrames = 2048;
constexpr int KRate = 44100;

void ProcessBlock(benchmark::State& AState)
{
    TEncoderConfig cfg;
    DefaultEncoderConfig(cfg);
    cfg.SampleRate = KRate;
    cfg.Channels = 2;
    cfg.CompressorEnabled = AState.range(0) != 0;
    cfg.EQBands = {2, 1, 0, 0, 0, 1, 1, 2, 2, 1};
    TNativeEncoderThread worker(cfg); // never started
    std::vector<float> in(KFrames * 2), out;
    for (int n = 0; n < KFrames; ++n) {
        in[2 * n] = static_cast<float>(0.8 * std::sin(2 * std::numbers::pi * 440 * n / KRate));
        in[2 * n + 1] = static_cast<float>(0.7 * std::sin(2 * std::numbers::pi * 3000 * n / KRate));
    }
    for (auto _ : AState) {
        worker.ProcessAudioBlock(in.data(), KFrames, 2, out, 2);
        worker.ApplyKeepAliveTone(out, KFrames, 2, GetTickCount64());
        benchmark::DoNotOptimize(out.data());
    }
    // Seconds of audio per second of processing.
    AState.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(AState.iterations()) * KFrames / KRate, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(ProcessBlock)->ArgName("compressor")->Arg(0)->Arg(1);
BENCHMARK_MAIN();
