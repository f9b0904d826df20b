// The encoder contract on the real codec libraries: calling order, edge
// cases, parameter settling, header pages and bad input.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

#include "CodecTestSupport.h"
#include "codecs/FdkAac.h"
#include "codecs/Flac.h"
#include "codecs/OggOpus.h"
#include "codecs/OggVorbis.h"
#include "platform/Tick.h"

namespace {

// The codec classes with their settled values and codec state in reach.
class TVorbisProbe : public TOggVorbisEncoder {
public:
    using TOggVorbisEncoder::FChannels;
    using TOggVorbisEncoder::FOs;
    using TOggVorbisEncoder::FSampleRate;
    using TOggVorbisEncoder::FStarted;
    static constexpr const char* NotStarted = "Encoder Ogg Vorbis não iniciado.";
};

class TAacProbe : public TFdkAacPlusEncoder {
public:
    using TFdkAacPlusEncoder::FBitrate;
    using TFdkAacPlusEncoder::FChannels;
    using TFdkAacPlusEncoder::FInfo;
    using TFdkAacPlusEncoder::FOutBuf;
    using TFdkAacPlusEncoder::FSampleRate;
    using TFdkAacPlusEncoder::FStarted;
    static constexpr const char* NotStarted = "Encoder AAC+ nao iniciado.";
};

class TFlacProbe : public TFlacEncoder {
public:
    using TFlacEncoder::FChannels;
    using TFlacEncoder::FSampleRate;
    using TFlacEncoder::FStarted;
    static constexpr const char* NotStarted = "Encoder Ogg FLAC nao iniciado.";
};

class TOpusProbe : public TOggOpusEncoder {
public:
    using TOggOpusEncoder::FChannels;
    using TOggOpusEncoder::FSampleRate;
    using TOggOpusEncoder::FStarted;
    static constexpr const char* NotStarted = "Encoder Ogg Opus não iniciado.";
};

template <class T>
class EncoderContract : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (std::is_same_v<T, TAacProbe> && !TFdkAacPlusEncoder::IsAvailable(reason))
            GTEST_SKIP() << "libfdk-aac is not installed: " << reason;
    }
};
using TProbes = ::testing::Types<TVorbisProbe, TAacProbe, TFlacProbe, TOpusProbe>;
TYPED_TEST_SUITE(EncoderContract, TProbes);

TYPED_TEST(EncoderContract, LibrariesLoadAndTheRealOnesAreAvailable)
{
    std::string error = "stale";
    EXPECT_TRUE(TypeParam::IsAvailable(error)) << error;
    EXPECT_EQ(error, "");
}

TYPED_TEST(EncoderContract, CallsOutOfOrderAndEmptyBlocks)
{
    TypeParam enc;
    std::string bytes = "stale", error = "stale";
    const std::vector<float> pcm = SineWave(1000, 44100, 2, 2048);

    EXPECT_FALSE(enc.EncodeFloatInterleaved(pcm.data(), 2048, bytes, error));
    EXPECT_EQ(error, TypeParam::NotStarted);
    EXPECT_EQ(bytes, "");
    bytes = error = "stale";
    EXPECT_TRUE(enc.Finish(bytes, error));
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(error, "");

    ASSERT_TRUE(enc.Start(2, 44100, 128, bytes, error)) << error;
    EXPECT_TRUE(enc.FStarted);
    for (int frames : {0, -1, -2048}) {
        bytes = error = "stale";
        EXPECT_TRUE(enc.EncodeFloatInterleaved(nullptr, frames, bytes, error)) << frames;
        EXPECT_EQ(bytes, "");
        EXPECT_EQ(error, "");
    }
    EXPECT_TRUE(enc.EncodeFloatInterleaved(pcm.data(), 2048, bytes, error)) << error;

    EXPECT_TRUE(enc.Finish(bytes, error)) << error;
    EXPECT_FALSE(enc.FStarted);
    bytes = error = "stale";
    EXPECT_TRUE(enc.Finish(bytes, error));
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(error, "");
    EXPECT_FALSE(enc.EncodeFloatInterleaved(pcm.data(), 2048, bytes, error));
    EXPECT_EQ(error, TypeParam::NotStarted);
}

TYPED_TEST(EncoderContract, ChannelsAndRateSettle)
{
    struct TCase {
        int32_t Channels, Rate, WantChannels, WantRate;
    };
    for (const TCase& c : {TCase{0, 44100, 1, 44100}, TCase{-7, 44100, 1, 44100},
                           TCase{6, 44100, 2, 44100}, TCase{2, 0, 2, 8000},
                           TCase{1, -44100, 1, 8000}, TCase{2, 48000, 2, 48000}}) {
        TypeParam enc;
        std::string header, error;
        // HE-AAC refuses 8000 Hz; the values are settled all the same.
        enc.Start(c.Channels, c.Rate, 128, header, error);
        EXPECT_EQ(enc.FChannels, c.WantChannels) << c.Channels;
        EXPECT_EQ(enc.FSampleRate, c.WantRate) << c.Rate;
    }
}

// Blocks of bad samples never crash an encoder nor end its stream.
TYPED_TEST(EncoderContract, SamplesOutsideFullScaleNanAndInfinityAreEncoded)
{
    TypeParam enc;
    std::string bytes, error, stream;
    ASSERT_TRUE(enc.Start(2, 44100, 128, stream, error)) << error;
    std::vector<float> pcm = SineWave(1000, 44100, 2, 2048);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), 3.0f, -3.0f, 1e30f};
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = specials[i % std::size(specials)];
    for (int block = 0; block < 20; ++block) {
        ASSERT_TRUE(enc.EncodeFloatInterleaved(pcm.data(), 2048, bytes, error)) << error;
        stream += bytes;
    }
    const std::vector<float> tone = SineWave(1000, 44100, 2, 2048);
    for (int block = 0; block < 20; ++block) {
        ASSERT_TRUE(enc.EncodeFloatInterleaved(tone.data(), 2048, bytes, error)) << error;
        stream += bytes;
    }
    ASSERT_TRUE(enc.Finish(bytes, error)) << error;
    stream += bytes;
    EXPECT_GT(stream.size(), 1000u);
}

// --- Ogg Vorbis ---

TEST(OggVorbisEncoder, HeaderIsWholePagesWithTheThreeVorbisHeadersOnly)
{
    TVorbisProbe enc;
    std::string header, error;
    ASSERT_TRUE(enc.Start(2, 44100, 128, header, error)) << error;
    std::vector<TOggPage> pages;
    ASSERT_TRUE(ParseOggPages(header, pages));
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages.front().HeaderType & 0x02, 0x02) << "first page opens the stream";
    EXPECT_EQ(pages.front().Packets.size(), 1u) << "identification header alone";
    EXPECT_FALSE(pages.back().EndsWithOpenPacket);
    for (const auto& page : pages)
        EXPECT_EQ(page.Granule, 0);
    const auto packets = OggPackets(pages);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].substr(0, 7), std::string("\x01vorbis"));
    EXPECT_EQ(packets[1].substr(0, 7), std::string("\x03vorbis"));
    EXPECT_EQ(packets[2].substr(0, 7), std::string("\x05vorbis"));
    EXPECT_NE(packets[1].find("ENCODER=TAVIX Encoder Nativo"), std::string::npos);
    // Channels and rate of the identification header.
    EXPECT_EQ(static_cast<uint8_t>(packets[0][11]), 2);
    EXPECT_EQ(static_cast<uint8_t>(packets[0][12]) | static_cast<uint8_t>(packets[0][13]) << 8,
              44100);
}

TEST(OggVorbisEncoder, EachStartGetsItsOwnSerialBelowTheTopValue)
{
    std::vector<uint32_t> serials;
    for (int i = 0; i < 4; ++i) {
        TVorbisProbe enc;
        std::string header, error;
        ASSERT_TRUE(enc.Start(2, 44100, 128, header, error)) << error;
        std::vector<TOggPage> pages;
        ASSERT_TRUE(ParseOggPages(header, pages));
        for (const auto& page : pages)
            EXPECT_EQ(page.Serial, pages.front().Serial);
        EXPECT_LT(pages.front().Serial, 2147483647u);
        EXPECT_EQ(static_cast<long>(pages.front().Serial), enc.FOs.serialno);
        serials.push_back(pages.front().Serial);
    }
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(std::unique(serials.begin(), serials.end()), serials.end());
}

TEST(OggVorbisEncoder, FinishEndsTheLogicalStream)
{
    TVorbisProbe enc;
    const std::string stream = EncodeSine(enc, 2, 44100, 128, 1.0, 1000);
    std::vector<TOggPage> pages;
    ASSERT_TRUE(ParseOggPages(stream, pages));
    EXPECT_EQ(pages.back().HeaderType & 0x04, 0x04) << "last page closes the stream";
    for (size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(pages[i].Sequence, i);
}

TEST(OggVorbisEncoder, StartOnAStartedInstanceBeginsANewStream)
{
    TVorbisProbe enc;
    std::string first, second, error;
    ASSERT_TRUE(enc.Start(2, 44100, 128, first, error)) << error;
    ASSERT_TRUE(enc.Start(1, 22050, 64, second, error)) << error;   // no leak under ASan
    std::vector<TOggPage> pages;
    ASSERT_TRUE(ParseOggPages(second, pages));
    EXPECT_EQ(static_cast<uint8_t>(OggPackets(pages)[0][11]), 1);
    EXPECT_TRUE(enc.FStarted);
}

TEST(OggVorbisEncoder, RefusedSetupLeavesItNotStarted)
{
    TVorbisProbe enc;
    std::string header, error;
    EXPECT_FALSE(enc.Start(2, 2000000000, 128, header, error));
    EXPECT_EQ(error, "Falha ao iniciar encoder Ogg Vorbis.");
    EXPECT_FALSE(enc.FStarted);
    // The same instance starts once the parameters are sane.
    EXPECT_TRUE(enc.Start(2, 44100, 128, header, error)) << error;
}

// --- AAC+ ---

class AacPlusEncoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!TFdkAacPlusEncoder::IsAvailable(reason))
            GTEST_SKIP() << "libfdk-aac is not installed: " << reason;
    }
};

TEST_F(AacPlusEncoder, StartsWithCreateDefaultsAndReportsItsFrame)
{
    TAacProbe enc;
    EXPECT_EQ(enc.FChannels, 2);
    EXPECT_EQ(enc.FSampleRate, 44100);
    EXPECT_EQ(enc.FBitrate, 64);
    EXPECT_EQ(enc.FrameLength(), 2048);
    std::string header = "stale", error;
    ASSERT_TRUE(enc.Start(2, 44100, 64, header, error)) << error;
    EXPECT_EQ(header, "");
    EXPECT_EQ(enc.FrameLength(), 2048);   // HE-AAC with dual-rate SBR
    EXPECT_EQ(enc.FInfo.frameLength, 2048u);
    EXPECT_EQ(enc.FOutBuf.size(), TFdkAacPlusEncoder::OutputBufferSize(enc.FInfo.maxOutBufBytes));
    EXPECT_EQ(enc.FInfo.inputChannels, 2u);
}

TEST_F(AacPlusEncoder, BitrateFloorMonoAndRestart)
{
    TAacProbe enc;
    std::string header, error;
    ASSERT_TRUE(enc.Start(1, 44100, 8, header, error)) << error;
    EXPECT_EQ(enc.FBitrate, 16);
    EXPECT_EQ(enc.FInfo.inputChannels, 1u);
    // A second Start on a started instance replaces the codec handle.
    ASSERT_TRUE(enc.Start(2, 48000, 96, header, error)) << error;
    EXPECT_EQ(enc.FInfo.inputChannels, 2u);
    const std::string stream = [&] {
        std::string out, bytes;
        const auto pcm = SineWave(1000, 48000, 2, 2048);
        for (int i = 0; i < 10; ++i) {
            EXPECT_TRUE(enc.EncodeFloatInterleaved(pcm.data(), 2048, bytes, error)) << error;
            out += bytes;
        }
        EXPECT_TRUE(enc.Finish(bytes, error)) << error;   // the library reports end of encoding
        return out + bytes;
    }();
    ASSERT_GT(stream.size(), 7u);
    EXPECT_EQ(static_cast<uint8_t>(stream[0]), 0xFF);
    // An absurd bitrate is saturated, not wrapped: the library clamps it.
    EXPECT_TRUE(enc.Start(2, 44100, 2147483647, header, error)) << error;
}

TEST_F(AacPlusEncoder, UnusableRatesFailAtTheStepTheLibraryRejects)
{
    TAacProbe enc;
    std::string header, error;
    EXPECT_FALSE(enc.Start(2, 192000, 64, header, error));
    EXPECT_EQ(error, "Nao configurou sample rate AAC+: AAC+ erro 35");
    EXPECT_FALSE(enc.FStarted);
    EXPECT_FALSE(enc.Start(2, 8000, 64, header, error));
    EXPECT_EQ(error, "Nao iniciou encoder AAC+: AAC+ erro 35");
    std::string bytes;
    EXPECT_FALSE(enc.EncodeFloatInterleaved(SineWave(1000, 8000, 2, 2048).data(), 2048, bytes, error));
    EXPECT_EQ(error, "Encoder AAC+ nao iniciado.");
}

TEST_F(AacPlusEncoder, LongBlockIsEncodedWhole)
{
    // One call with 10 frames' worth of audio gives as much as ten calls.
    TAacProbe a, b;
    std::string header, error, bytes, one, ten;
    ASSERT_TRUE(a.Start(2, 44100, 64, header, error));
    ASSERT_TRUE(b.Start(2, 44100, 64, header, error));
    const auto pcm = SineWave(1000, 44100, 2, 20480);
    ASSERT_TRUE(a.EncodeFloatInterleaved(pcm.data(), 20480, one, error)) << error;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(b.EncodeFloatInterleaved(pcm.data() + i * 4096, 2048, bytes, error)) << error;
        ten += bytes;
    }
    EXPECT_EQ(one, ten);
}

// --- Ogg FLAC ---

TEST(FlacEncoder, HeaderIsTheFlacStreamHeaderInWholePages)
{
    for (int channels : {1, 2}) {
        TFlacProbe enc;
        std::string header, error;
        const uint32_t before = GetTickCount() & 0x7FFFFFFF;
        ASSERT_TRUE(enc.Start(channels, 44100, 128, header, error)) << error;
        const uint32_t after = GetTickCount() & 0x7FFFFFFF;
        std::vector<TOggPage> pages;
        ASSERT_TRUE(ParseOggPages(header, pages));
        ASSERT_FALSE(pages.empty());
        EXPECT_FALSE(pages.back().EndsWithOpenPacket);
        EXPECT_GE(pages.front().Serial, before);
        EXPECT_LE(pages.front().Serial, after);
        const auto packets = OggPackets(pages);
        ASSERT_GE(packets.size(), 2u);
        // First packet: 0x7F "FLAC", mapping version, header count, "fLaC",
        // then STREAMINFO.
        ASSERT_GE(packets[0].size(), 51u);
        EXPECT_EQ(packets[0].substr(0, 5), std::string("\x7F" "FLAC"));
        EXPECT_EQ(packets[0].substr(9, 4), "fLaC");
        const auto* si = reinterpret_cast<const uint8_t*>(packets[0].data()) + 17;
        const uint32_t rate = (si[10] << 12) | (si[11] << 4) | (si[12] >> 4);
        EXPECT_EQ(rate, 44100u);
        EXPECT_EQ(((si[12] >> 1) & 7) + 1, channels);
        EXPECT_EQ((((si[12] & 1) << 4) | (si[13] >> 4)) + 1, 16);
        // Only metadata blocks follow, the last one flagged as last.
        for (size_t i = 1; i < packets.size(); ++i) {
            ASSERT_FALSE(packets[i].empty());
            EXPECT_NE(static_cast<uint8_t>(packets[i][0]), 0xFF) << "no audio frame";
            EXPECT_EQ((static_cast<uint8_t>(packets[i][0]) & 0x80) != 0, i + 1 == packets.size());
        }
    }
}

TEST(FlacEncoder, SerialsComeFromTheTickAndBitrateChangesNothing)
{
    auto streamOf = [](int32_t ABitrate, uint32_t& ASerial) {
        TFlacProbe enc;
        const std::string stream = EncodeSine(enc, 2, 44100, ABitrate, 1.0, 1000);
        std::vector<TOggPage> pages;
        EXPECT_TRUE(ParseOggPages(stream, pages));
        ASerial = pages.empty() ? 0 : pages.front().Serial;
        return OggPackets(pages);
    };
    uint32_t serialA = 0, serialB = 0;
    const auto a = streamOf(0, serialA);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto b = streamOf(320, serialB);
    EXPECT_NE(serialA, serialB);
    EXPECT_LT(serialA, 0x80000000u);
    EXPECT_LT(serialB, 0x80000000u);
    EXPECT_EQ(a, b);
}

TEST(FlacEncoder, RestartAndRefusedRates)
{
    TFlacProbe enc;
    std::string header, error;
    ASSERT_TRUE(enc.Start(2, 44100, 0, header, error)) << error;
    ASSERT_TRUE(enc.Start(1, 48000, 0, header, error)) << error;   // replaces the running one
    EXPECT_EQ(enc.FChannels, 1);
    EXPECT_FALSE(header.empty());
    // libFLAC refuses what the format cannot hold at initialisation.
    EXPECT_FALSE(enc.Start(2, 2000000000, 0, header, error));
    EXPECT_EQ(error.rfind("Nao iniciou encoder Ogg FLAC. Status: ", 0), 0u) << error;
    EXPECT_FALSE(enc.FStarted);
}

} // namespace
