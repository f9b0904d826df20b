// How many times faster than real time each codec encodes the default
// stream (stereo, 44100 Hz, the default bitrate) on one core. The
// "x_realtime" counter is seconds of audio per second of CPU time (one
// thread), which stays meaningful on a busy machine.
#include <benchmark/benchmark.h>
#include <cmath>
#include <string>
#include <vector>

#include "codecs/CodecTable.h"
#include "codecs/Lame.h"
#include "settings/EncoderConfig.h"

namespace {

constexpr double KSeconds = 10.0;

const TEncoderConfig& Defaults()
{
    static const TEncoderConfig config = [] {
        TEncoderConfig c;
        DefaultEncoderConfig(c);
        return c;
    }();
    return config;
}

// A tone with some noise, so the codecs do realistic work.
std::vector<float> TestSignal(int AFrames)
{
    std::vector<float> pcm(static_cast<size_t>(AFrames) * 2);
    uint32_t seed = 12345;
    for (int i = 0; i < AFrames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / (1 << 24) - 0.5) * 0.1;
        pcm[2 * i] = static_cast<float>(0.4 * std::sin(2 * M_PI * 440 * i / 44100.0) + noise);
        pcm[2 * i + 1] = static_cast<float>(0.4 * std::sin(2 * M_PI * 660 * i / 44100.0) - noise);
    }
    return pcm;
}

void EncodeWithContract(benchmark::State& AState, const char* ACodec)
{
    const TEncoderConfig& cfg = Defaults();
    const int total = static_cast<int>(KSeconds * cfg.SampleRate);
    const std::vector<float> pcm = TestSignal(total);
    const TCodecRow& row = *FindCodecRow(ACodec);
    std::string bytes, error;
    for (auto _ : AState) {
        auto encoder = CreateEncoder(row);
        if (!encoder->Start(cfg.Channels, cfg.SampleRate, cfg.Bitrate, bytes, error)) {
            AState.SkipWithError(error.c_str());
            return;
        }
        const int block = KDefaultFramesPerBlock;
        for (int done = 0; done + block <= total; done += block)
            encoder->EncodeFloatInterleaved(pcm.data() + static_cast<size_t>(done) * 2, block, bytes,
                                            error);
        encoder->Finish(bytes, error);
    }
    AState.counters["x_realtime"] =
        benchmark::Counter(KSeconds * static_cast<double>(AState.iterations()),
                           benchmark::Counter::kIsRate);
}

void EncodeMp3(benchmark::State& AState)
{
    const TEncoderConfig& cfg = Defaults();
    const int total = static_cast<int>(KSeconds * cfg.SampleRate);
    const std::vector<float> pcm = TestSignal(total);
    std::vector<unsigned char> buf(static_cast<size_t>(Mp3BufferSize(KDefaultFramesPerBlock)));
    for (auto _ : AState) {
        lame_global_flags* lame = OpenMp3Encoder(cfg.Channels, cfg.SampleRate, cfg.Bitrate);
        for (int done = 0; done + KDefaultFramesPerBlock <= total; done += KDefaultFramesPerBlock)
            EncodeMp3Block(lame, pcm.data() + static_cast<size_t>(done) * 2, KDefaultFramesPerBlock,
                           buf.data(), static_cast<int>(buf.size()));
        lame_encode_flush(lame, buf.data(), static_cast<int>(buf.size()));
        lame_close(lame);
    }
    AState.counters["x_realtime"] =
        benchmark::Counter(KSeconds * static_cast<double>(AState.iterations()),
                           benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(EncodeMp3)->Name("Mp3")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(EncodeWithContract, OggVorbis, "audio/ogg")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(EncodeWithContract, AacPlus, "audio/aacp")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(EncodeWithContract, OggFlac, "audio/flac")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(EncodeWithContract, OggOpus, "audio/opus")->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
