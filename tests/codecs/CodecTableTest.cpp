// The codec table, block sizes, MP3 buffer rule and sample conversions.
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sys/mman.h>
#include <unistd.h>

#include "codecs/CodecTable.h"
#include "codecs/FdkAac.h"
#include "codecs/Flac.h"
#include "codecs/Lame.h"
#include "codecs/Mp3Encoder.h"
#include "codecs/OggOpus.h"
#include "codecs/OggVorbis.h"
#include "codecs/SampleConversion.h"

namespace {

TEST(CodecTable, ElevenIdentifiersSelectTheirRowsIgnoringCase)
{
    struct TExpect {
        const char* Id;
        TCodecKind Kind;
        const char* ContentType;
        bool Header;
        bool Shoutcast;
    };
    const TExpect expected[] = {
        {"audio/mpeg", TCodecKind::Mp3, "audio/mpeg", false, true},
        {"AUDIO/MPEG", TCodecKind::Mp3, "audio/mpeg", false, true},
        {"audio/ogg", TCodecKind::OggVorbis, "audio/ogg", true, false},
        {"Application/Ogg", TCodecKind::OggVorbis, "audio/ogg", true, false},
        {"audio/aacp", TCodecKind::AacPlus, "audio/aac", false, true},
        {"audio/AAC", TCodecKind::AacPlus, "audio/aac", false, true},
        {"audio/x-aac", TCodecKind::AacPlus, "audio/aac", false, true},
        {"audio/flac", TCodecKind::OggFlac, "application/ogg", true, false},
        {"APPLICATION/FLAC", TCodecKind::OggFlac, "application/ogg", true, false},
        {"audio/opus", TCodecKind::OggOpus, "audio/ogg", true, false},
        {"Audio/Ogg; Codecs=OPUS", TCodecKind::OggOpus, "audio/ogg", true, false},
    };
    for (const auto& e : expected) {
        const TCodecRow* row = FindCodecRow(e.Id);
        ASSERT_NE(row, nullptr) << e.Id;
        EXPECT_EQ(row->Kind, e.Kind) << e.Id;
        EXPECT_STREQ(row->ContentType, e.ContentType) << e.Id;
        EXPECT_EQ(row->SendsHeaderBytes, e.Header) << e.Id;
        EXPECT_EQ(row->AllowedOnShoutcast, e.Shoutcast) << e.Id;
    }
    for (const char* id : {"", "audio/mp3", " audio/mpeg", "audio/mpeg ", "audio/ogg;codecs=opus",
                           "audio/ogg; codecs=vorbis", "audio/x-opus"})
        EXPECT_EQ(FindCodecRow(id), nullptr) << "'" << id << "'";
}

TEST(CodecTable, FactoryMakesTheRowsEncoder)
{
    auto mp3 = CreateEncoder(*FindCodecRow("audio/mpeg"));
    EXPECT_NE(dynamic_cast<TMp3Encoder*>(mp3.get()), nullptr);
    auto vorbis = CreateEncoder(*FindCodecRow("audio/ogg"));
    auto aac = CreateEncoder(*FindCodecRow("audio/aacp"));
    auto flac = CreateEncoder(*FindCodecRow("audio/flac"));
    auto opus = CreateEncoder(*FindCodecRow("audio/opus"));
    EXPECT_NE(dynamic_cast<TOggVorbisEncoder*>(vorbis.get()), nullptr);
    EXPECT_NE(dynamic_cast<TFdkAacPlusEncoder*>(aac.get()), nullptr);
    EXPECT_NE(dynamic_cast<TFlacEncoder*>(flac.get()), nullptr);
    EXPECT_NE(dynamic_cast<TOggOpusEncoder*>(opus.get()), nullptr);
}

TEST(Mp3, BufferSizeAndEncoderOpening)
{
    EXPECT_EQ(Mp3BufferSize(2048), 9760);
    EXPECT_EQ(Mp3BufferSize(1024), 8480);
    EXPECT_EQ(Mp3BufferSize(2), 7202);   // 2.5 rounds to even
    EXPECT_EQ(Mp3BufferSize(0), 7200);

    for (int channels : {1, 2}) {
        lame_global_flags* lame = OpenMp3Encoder(channels, 44100, 128);
        ASSERT_NE(lame, nullptr);
        EXPECT_EQ(lame_get_num_channels(lame), channels);
        EXPECT_EQ(lame_get_out_samplerate(lame), 44100);
        EXPECT_EQ(lame_get_brate(lame), 128);
        EXPECT_EQ(lame_get_VBR(lame), vbr_off);
        EXPECT_EQ(lame_get_quality(lame), 2) << "the quality unless the station asks for another";
        lame_close(lame);
    }
    lame_global_flags* fast = OpenMp3Encoder(2, 44100, 128, 7);
    ASSERT_NE(fast, nullptr);
    EXPECT_EQ(lame_get_quality(fast), 7);
    lame_close(fast);
    // Rates MP3 cannot carry would be resampled: refused.
    for (int rate : {0, -5, 1234, 96000, 2000000000})
        EXPECT_EQ(OpenMp3Encoder(2, rate, 128), nullptr) << rate;
    // Bitrates LAME cannot use are moved to a valid one.
    lame_global_flags* lame = OpenMp3Encoder(2, 44100, 100000);
    ASSERT_NE(lame, nullptr);
    EXPECT_EQ(lame_get_brate(lame), 320);
    lame_close(lame);
}

TEST(Mp3, MonoBlockEncodesWithoutReadingPastTheBlock)
{
    lame_global_flags* lame = OpenMp3Encoder(1, 44100, 128);
    ASSERT_NE(lame, nullptr);
    // One block (2048 floats = 8192 bytes) ending right before a page that
    // cannot be read: reading past the block crashes at once.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t bytes = 2048 * sizeof(float);
    const size_t mapped = (bytes + page - 1) / page * page + page;
    void* map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(mprotect(static_cast<char*>(map) + mapped - page, page, PROT_NONE), 0);
    float* pcm = reinterpret_cast<float*>(static_cast<char*>(map) + mapped - page - bytes);
    for (size_t i = 0; i < 2048; ++i)
        pcm[i] = static_cast<float>(0.5 * std::sin(0.1 * static_cast<double>(i)));
    std::vector<unsigned char> buf(static_cast<size_t>(Mp3BufferSize(2048)));
    int total = 0;
    for (int block = 0; block < 20; ++block) {
        const int n = EncodeMp3Block(lame, pcm, 2048, buf.data(), static_cast<int>(buf.size()));
        ASSERT_GE(n, 0);
        total += n;
    }
    EXPECT_GT(total, 0);
    lame_close(lame);
    munmap(map, mapped);
}

TEST(SampleConversion, AacScalesSymmetricallyAndRoundsHalvesToEven)
{
    EXPECT_EQ(FloatToAacSample(-1.0f), -32767);
    EXPECT_EQ(FloatToAacSample(1.0f), 32767);
    EXPECT_EQ(FloatToAacSample(1.5f), 32767);
    EXPECT_EQ(FloatToAacSample(-1.5f), -32767);
    EXPECT_EQ(FloatToAacSample(0.5f), 16384);   // 16383.5
    EXPECT_EQ(FloatToAacSample(0.0f), 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(FloatToAacSample(nan), 0);
    EXPECT_EQ(FloatToAacSample(inf), 32767);
    EXPECT_EQ(FloatToAacSample(-inf), -32767);
}

TEST(SampleConversion, FlacGivesTheFullNegativeRange)
{
    EXPECT_EQ(FloatToFlacSample(-1.0f), -32768);
    EXPECT_EQ(FloatToFlacSample(-1.2f), -32768);
    EXPECT_EQ(FloatToFlacSample(1.2f), 32767);
    EXPECT_EQ(FloatToFlacSample(0.5f), 16384);
    EXPECT_EQ(FloatToFlacSample(-0.5f), -16384);
    EXPECT_EQ(FloatToFlacSample(-0.99999f), -32767);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(FloatToFlacSample(nan), 0);
    EXPECT_EQ(FloatToFlacSample(inf), 32767);
    EXPECT_EQ(FloatToFlacSample(-inf), -32768);
}

TEST(VorbisQuality, FollowsTheBitrateBetween64And231Kbps)
{
    const std::pair<int32_t, float> table[] = {
        {-100, 0.0f}, {0, 0.0f}, {48, 0.0f}, {64, 0.0f}, {96, 0.125f}, {128, 0.25f},
        {160, 0.375f}, {192, 0.5f}, {224, 0.625f}, {230, 0.6484375f}, {231, 0.65f},
        {256, 0.65f}, {320, 0.65f}, {2147483647, 0.65f}};
    for (const auto& [kbps, quality] : table)
        EXPECT_FLOAT_EQ(TOggVorbisEncoder::QualityFromBitrate(kbps), quality) << kbps;
}

TEST(AacOutputBuffer, LibraryMaximumPlus1024AtLeast8192)
{
    EXPECT_EQ(TFdkAacPlusEncoder::OutputBufferSize(6144), 8192u);
    EXPECT_EQ(TFdkAacPlusEncoder::OutputBufferSize(10000), 11024u);
    EXPECT_EQ(TFdkAacPlusEncoder::OutputBufferSize(0), 8192u);
}

} // namespace
