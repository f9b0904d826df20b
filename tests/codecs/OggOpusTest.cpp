// What Ogg Opus promises beyond the shared contract: 20 ms frames, the
// bitrate range, and input at any capture rate resampled to 48000 Hz.
#include <gtest/gtest.h>
#include <random>

#include "CodecTestSupport.h"
#include "codecs/OggOpus.h"
#include "tests/support/TempDir.h"

namespace {

// The frame length in tenths of a millisecond of an Opus packet's TOC
// byte, 0 unless the packet holds a single frame.
int SingleFrameTenthsMs(uint8_t AToc)
{
    if ((AToc & 3) != 0)
        return 0;
    static const int KSilk[] = {100, 200, 400, 600}, KHybrid[] = {100, 200},
                     KCelt[] = {25, 50, 100, 200};
    const int config = AToc >> 3;
    if (config < 12)
        return KSilk[config % 4];
    if (config < 16)
        return KHybrid[config % 2];
    return KCelt[config % 4];
}

uint32_t Le32(const std::string& AData, size_t APos)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(AData[APos + i]);
    return v;
}

// Tone under noise, so the encoder has something to spend bits on.
std::vector<float> NoisyTone(int ARate, int AChannels, int AFrames)
{
    std::vector<float> pcm = SineWave(1000, ARate, AChannels, AFrames, 0.3);
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    for (float& s : pcm)
        s += noise(gen);
    return pcm;
}

std::string EncodeAll(TOggOpusEncoder& AEncoder, const std::vector<float>& APcm, int AChannels,
                      int ARate, int ABitrate)
{
    std::string stream, bytes, error;
    EXPECT_TRUE(AEncoder.Start(AChannels, ARate, ABitrate, stream, error)) << error;
    const int frames = static_cast<int>(APcm.size()) / AChannels;
    for (int done = 0; done < frames; done += 2048) {
        EXPECT_TRUE(AEncoder.EncodeFloatInterleaved(APcm.data() + static_cast<size_t>(done) * AChannels,
                                                    std::min(2048, frames - done), bytes, error))
            << error;
        stream += bytes;
    }
    EXPECT_TRUE(AEncoder.Finish(bytes, error)) << error;
    return stream + bytes;
}

TEST(OggOpus, TwentyMillisecondFramesWithinTheBitrateRange)
{
    constexpr int KRate = 44100, KSeconds = 5;
    // Asked for, then what the stream must carry.
    for (const auto& [asked, kbps] : {std::pair{8, 16}, {16, 16}, {96, 96}, {256, 256}, {320, 256}}) {
        TOggOpusEncoder enc;
        const std::string stream = EncodeAll(enc, NoisyTone(KRate, 2, KSeconds * KRate), 2, KRate, asked);
        std::vector<TOggPage> pages;
        ASSERT_TRUE(ParseOggPages(stream, pages));
        const auto packets = OggPackets(pages);
        ASSERT_GT(packets.size(), 2u);
        // OpusHead: version 1, the channels, the capture rate as input rate.
        ASSERT_EQ(packets[0].compare(0, 8, "OpusHead"), 0);
        EXPECT_EQ(packets[0][8], 1);
        EXPECT_EQ(packets[0][9], 2);
        EXPECT_EQ(Le32(packets[0], 12), static_cast<uint32_t>(KRate));
        EXPECT_EQ(packets[1].compare(0, 8, "OpusTags"), 0);
        size_t audioBytes = 0;
        for (size_t i = 2; i < packets.size(); ++i) {
            ASSERT_FALSE(packets[i].empty());
            ASSERT_EQ(SingleFrameTenthsMs(static_cast<uint8_t>(packets[i][0])), 200) << "packet " << i;
            audioBytes += packets[i].size();
        }
        // 20 ms each, with the codec's padding at the end.
        EXPECT_NEAR(static_cast<double>(packets.size() - 2), KSeconds * 50.0, 3.0);
        const double measured = audioBytes * 8.0 / KSeconds / 1000.0;
        EXPECT_NEAR(measured, kbps, kbps * 0.25) << "asked " << asked;
    }
}

// Whatever the capture rate, the listener gets 48000 Hz with the tone in
// its place and the input's length: resampled, not relabelled nor thinned.
TEST(OggOpus, CaptureRatesAreResampledTo48000)
{
    for (const int rate : {8000, 22050, 44100, 48000, 96000}) {
        TOggOpusEncoder enc;
        const std::string stream = EncodeAll(enc, SineWave(1000, rate, 1, 2 * rate), 1, rate, 64);
        TTempDir dir;
        const std::string path = dir.File("rate.opus");
        WriteTextFile(path, stream);
        auto probe = ProbeFile(path);
        EXPECT_EQ(probe["codec_name"], "opus") << rate;
        EXPECT_EQ(probe["sample_rate"], "48000") << rate;
        EXPECT_NEAR(std::stod(probe["duration"]), 2.0, 0.03) << rate;
        const std::vector<float> pcm = DecodeFile(path, 1);
        EXPECT_NEAR(pcm.size() / 48000.0, 2.0, 0.03) << rate;
        const double tone = ToneLevel(pcm, 1, 0, 48000, 1000.0);
        EXPECT_GT(tone, 0.01) << rate;
        // Samples taken as 48000 Hz ones would put the tone here instead.
        if (rate != 48000) {
            EXPECT_GT(tone, 1000 * ToneLevel(pcm, 1, 0, 48000, 1000.0 * 48000 / rate)) << rate;
        }
    }
}

} // namespace
