#include <gtest/gtest.h>

#include <cmath>

#include "monitoring/StreamDecoder.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// The decoder against streams that ffmpeg's own encoders made.

namespace {

struct TFormat {
    TCodecKind Kind;
    const char* Args; // ffmpeg output options
};

const TFormat KFormats[] = {
    {TCodecKind::Mp3, "-c:a libmp3lame -b:a 128k -f mp3"},
    {TCodecKind::AacPlus, "-c:a aac -b:a 96k -f adts"},
    // Pages of 100 ms, as a live stream has them (ffmpeg's are a second long).
    {TCodecKind::OggVorbis, "-c:a libvorbis -b:a 96k -page_duration 100000 -f ogg"},
    {TCodecKind::OggFlac, "-c:a flac -page_duration 100000 -f ogg"},
    {TCodecKind::OggOpus, "-c:a libopus -b:a 64k -page_duration 100000 -f ogg"},
};

// ASeconds of a sine of AAmplitude (0 to 1) in AFormat, titled ATitle.
std::string Encoded(const TFormat& AFormat, double ASeconds, double AAmplitude, const std::string& ATitle)
{
    const std::string ffmpeg = RequireProgram("ffmpeg");
    TTempDir dir;
    const std::string file = dir.File("sample");
    int rc = -1;
    RunCommand(ffmpeg + " -v error -y -f lavfi -i 'aevalsrc=" + std::to_string(AAmplitude) +
                   "*sin(2*PI*1000*t):s=48000:d=" + std::to_string(ASeconds) + "' -ac 2 -metadata title=" +
                   ShellQuote(ATitle) + " " + AFormat.Args + " " + ShellQuote(file),
               &rc);
    EXPECT_EQ(rc, 0) << AFormat.Args;
    return ReadTextFile(file);
}

} // namespace

TEST(StreamDecoder, DecodesEveryStreamFormatWithItsLevel)
{
    for (const TFormat& f : KFormats) {
        std::string why;
        ASSERT_TRUE(CanDecode(f.Kind, why)) << why;
        const std::string bytes = Encoded(f, 3.0, 0.5, "Faixa um");
        // A listener joins anywhere: drop the start of the byte stream for
        // the formats that resynchronise on their own.
        const bool mid = f.Kind == TCodecKind::Mp3 || f.Kind == TCodecKind::AacPlus;
        const TDecodedSample d = DecodeStreamSample(f.Kind, mid ? bytes.substr(bytes.size() / 3) : bytes);
        EXPECT_EQ(d.Error, "") << f.Args;
        EXPECT_NEAR(d.Seconds, mid ? 2.0 : 3.0, 0.2) << f.Args;
        // ffmpeg spreads the mono sine over both channels at -3 dB.
        EXPECT_NEAR(d.Peak, 0.5 / std::sqrt(2.0), 0.06) << f.Args;
        if (!mid) {
            EXPECT_EQ(d.Title, "Faixa um") << f.Args;
        }

        const TDecodedSample quiet = DecodeStreamSample(f.Kind, Encoded(f, 2.0, 0.0, "x"));
        EXPECT_LT(quiet.Peak, 0.0003f) << f.Args;
        EXPECT_GT(quiet.Seconds, 1.5) << f.Args;
    }
}

TEST(StreamDecoder, AChainedOggStreamGivesItsLatestTitle)
{
    // Not Ogg FLAC: the library keeps the first chain's tags there. A
    // listener who joins gets the current chain's headers first, and the
    // check looks at no other.
    for (const TFormat& f : KFormats) {
        if (f.Kind != TCodecKind::OggVorbis && f.Kind != TCodecKind::OggOpus)
            continue;
        const std::string chained = Encoded(f, 1.0, 0.3, "Primeira") + Encoded(f, 1.0, 0.3, "Segunda");
        const TDecodedSample d = DecodeStreamSample(f.Kind, chained);
        EXPECT_EQ(d.Title, "Segunda") << f.Args;
        EXPECT_GT(d.Seconds, 0.9) << f.Args;
    }
}

TEST(StreamDecoder, BytesThatAreNoStreamGiveAReasonNotACrash)
{
    std::string noise;
    for (int i = 0; i < 50000; ++i)
        noise += static_cast<char>((i * 2654435761u) >> 13);
    for (const TFormat& f : KFormats) {
        EXPECT_NE(DecodeStreamSample(f.Kind, "").Error, "");
        const TDecodedSample d = DecodeStreamSample(f.Kind, noise);
        EXPECT_LT(d.Seconds, 0.5) << f.Args;
        // Cut in the middle of a page or frame.
        const std::string bytes = Encoded(f, 3.0, 0.5, "x");
        const TDecodedSample cut = DecodeStreamSample(f.Kind, bytes.substr(0, bytes.size() / 2 + 7));
        EXPECT_GT(cut.Seconds, 0.5) << f.Args;
    }
    // An Ogg stream is decoded only as the codec it was sent as: Ogg FLAC
    // passed off as Vorbis is refused, not decoded.
    const TDecodedSample other = DecodeStreamSample(TCodecKind::OggVorbis, Encoded(KFormats[3], 2.0, 0.5, "x"));
    EXPECT_EQ(other.Error, "o fluxo traz flac, nao vorbis");
    EXPECT_EQ(other.Seconds, 0.0);
    std::string why;
    EXPECT_FALSE(CanDecode(TCodecKind::None, why));
    EXPECT_NE(why, "");
}
