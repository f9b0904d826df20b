// Ten seconds of a 1 kHz tone through each codec, judged by ffprobe and by
// ffmpeg's decode.
#include <gtest/gtest.h>

#include "CodecTestSupport.h"
#include "codecs/CodecTable.h"
#include "codecs/FdkAac.h"
#include "tests/support/TempDir.h"

namespace {

// Walks the ADTS frames: the whole stream must be frames, each announcing
// an AAC-LC core at half the input rate (SBR signalled implicitly) and the
// channel configuration of the encoder.
void ExpectAdtsFrames(const std::string& AStream, int AChannels)
{
    size_t pos = 0, frames = 0;
    while (pos + 7 <= AStream.size()) {
        const auto b = [&](size_t i) { return static_cast<uint8_t>(AStream[pos + i]); };
        ASSERT_EQ(b(0), 0xFF) << "frame " << frames;
        ASSERT_EQ(b(1) & 0xF0, 0xF0) << "frame " << frames;
        EXPECT_EQ(b(2) >> 6, 1) << "AAC-LC core";
        EXPECT_EQ((b(2) >> 2) & 0x0F, 7) << "22050 Hz core";
        EXPECT_EQ(((b(2) & 1) << 2) | (b(3) >> 6), AChannels);
        const size_t length = ((b(3) & 3u) << 11) | (b(4) << 3) | (b(5) >> 5);
        ASSERT_GE(length, 7u);
        pos += length;
        ++frames;
    }
    EXPECT_EQ(pos, AStream.size());
    EXPECT_GT(frames, 200u);
}

struct TOutputCase {
    const char* Name;
    const char* CodecId;
    int Channels;
    const char* CodecName;
    const char* FormatName;
};

class EncoderOutput : public ::testing::TestWithParam<TOutputCase> {};

TEST_P(EncoderOutput, TenSecondsOfToneDecodeAsTheRightStream)
{
    const TOutputCase& tc = GetParam();
    const TCodecRow* row = FindCodecRow(tc.CodecId);
    ASSERT_NE(row, nullptr);
    if (row->Kind == TCodecKind::AacPlus) {
        std::string reason;
        if (!TFdkAacPlusEncoder::IsAvailable(reason))
            GTEST_SKIP() << "libfdk-aac is not installed: " << reason;
    }
    const int rate = 44100;
    std::string stream;
    auto encoder = CreateEncoder(*row);
    stream = encoder ? EncodeSine(*encoder, tc.Channels, rate, 128, 10.0, 1000.0)
                     : EncodeSineMp3(tc.Channels, rate, 128, 10.0, 1000.0);
    ASSERT_FALSE(stream.empty());

    TTempDir dir;
    const std::string path = dir.File("tone.bin");
    WriteTextFile(path, stream);
    auto probe = ProbeFile(path);
    EXPECT_EQ(probe["codec_name"], tc.CodecName);
    EXPECT_EQ(probe["format_name"], tc.FormatName);
    // Opus always decodes at its own 48000 Hz, whatever the input was.
    const bool opus = row->Kind == TCodecKind::OggOpus;
    const int decodedRate = opus ? 48000 : rate;
    EXPECT_EQ(probe["sample_rate"], std::to_string(decodedRate));
    // ffmpeg decodes mono HE-AAC with implicit signalling as stereo
    // (parametric stereo might follow), calling it HE-AACv2: the frames
    // themselves are checked instead.
    const bool monoAac = row->Kind == TCodecKind::AacPlus && tc.Channels == 1;
    const int decodedChannels = monoAac ? 2 : tc.Channels;
    EXPECT_EQ(probe["channels"], std::to_string(decodedChannels));
    if (row->Kind == TCodecKind::AacPlus) {
        EXPECT_EQ(probe["profile"], monoAac ? "HE-AACv2" : "HE-AAC");
        ExpectAdtsFrames(stream, tc.Channels);
    }
    if (row->Kind == TCodecKind::OggVorbis || opus) {
        EXPECT_EQ(probe["TAG:ENCODER"], "TAVIX Encoder Nativo");
    }
    if (opus) {
        EXPECT_NEAR(std::stod(probe["duration"]), 10.0, 0.05);
    }

    const std::vector<float> pcm = DecodeFile(path, decodedChannels);
    const double seconds = static_cast<double>(pcm.size()) / decodedChannels / decodedRate;
    EXPECT_NEAR(seconds, 10.0, 0.2);
    for (int c = 0; c < decodedChannels; ++c) {
        const double tone = ToneLevel(pcm, decodedChannels, c, decodedRate, 1000.0);
        EXPECT_GT(tone, 0.01) << "channel " << c;   // a 0.5 sine gives 0.0625
        EXPECT_GT(tone, 1000 * ToneLevel(pcm, decodedChannels, c, decodedRate, 500.0)) << "channel " << c;
        EXPECT_GT(tone, 1000 * ToneLevel(pcm, decodedChannels, c, decodedRate, 2000.0)) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, EncoderOutput,
    ::testing::Values(TOutputCase{"Mp3Stereo", "audio/mpeg", 2, "mp3", "mp3"},
                      TOutputCase{"Mp3Mono", "AUDIO/MPEG", 1, "mp3", "mp3"},
                      TOutputCase{"VorbisStereo", "audio/ogg", 2, "vorbis", "ogg"},
                      TOutputCase{"VorbisMono", "application/ogg", 1, "vorbis", "ogg"},
                      TOutputCase{"AacPlusStereo", "audio/aacp", 2, "aac", "aac"},
                      TOutputCase{"AacPlusMono", "audio/x-aac", 1, "aac", "aac"},
                      TOutputCase{"FlacStereo", "audio/flac", 2, "flac", "ogg"},
                      TOutputCase{"FlacMono", "application/flac", 1, "flac", "ogg"},
                      TOutputCase{"OpusStereo", "audio/opus", 2, "opus", "ogg"},
                      TOutputCase{"OpusMono", "Audio/Ogg; Codecs=Opus", 1, "opus", "ogg"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

} // namespace
