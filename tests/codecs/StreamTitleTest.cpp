// Titles inside the Ogg streams: each title change chains a new logical
// stream whose comment header holds it. Judged by the pages themselves and
// by ffmpeg's decode of the whole chained file.
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

#include "CodecTestSupport.h"
#include "codecs/CodecTable.h"
#include "codecs/FdkAac.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int KRate = 44100;
constexpr int KBlock = 2048;
const std::string KTitles[] = {
    "Primeira M\xC3\xBAsica",
    "a=b \xE2\x80\x94 can\xC3\xA7\xC3\xA3o \xF0\x9F\x8E\xB5 \"x\" =",
    "Terceira",
};

std::unique_ptr<TAudioEncoder> NewEncoder(TCodecKind AKind)
{
    const char* id = AKind == TCodecKind::OggVorbis ? "audio/ogg"
                     : AKind == TCodecKind::OggOpus ? "audio/opus"
                                                    : "audio/flac";
    return CreateEncoder(*FindCodecRow(id));
}

// ffmpeg decodes Opus at its own rate.
int DecodedRate(TCodecKind AKind)
{
    return AKind == TCodecKind::OggOpus ? 48000 : KRate;
}

// Opus' end granule is the input length at 48000 Hz, rounded: within a
// frame of the input rate. The others count input frames exactly.
double FrameTolerance(TCodecKind AKind)
{
    return AKind == TCodecKind::OggOpus ? 1.0 : 0.0;
}

// AFrames of a 1 kHz tone in blocks; every byte goes to AOut, those of the
// first call to AFirstCall too.
void EncodeTone(TAudioEncoder& AEncoder, int AChannels, int AFrames, std::string& AOut,
                std::string* AFirstCall = nullptr)
{
    const std::vector<float> pcm = SineWave(1000, KRate, AChannels, AFrames);
    std::string bytes, error;
    for (int done = 0; done < AFrames; done += KBlock) {
        const int frames = std::min(KBlock, AFrames - done);
        ASSERT_TRUE(AEncoder.EncodeFloatInterleaved(pcm.data() + static_cast<size_t>(done) * AChannels,
                                                    frames, bytes, error))
            << error;
        if (done == 0 && AFirstCall)
            *AFirstCall = bytes;
        AOut += bytes;
    }
}

std::vector<TOggChain> ChainsOf(const std::string& AStream, bool ALastMayBeOpen = false)
{
    std::vector<TOggPage> pages;
    std::vector<TOggChain> chains;
    EXPECT_TRUE(ParseOggPages(AStream, pages)) << "not whole Ogg pages";
    EXPECT_TRUE(SplitOggChains(pages, chains, ALastMayBeOpen)) << "not cleanly chained";
    return chains;
}

int CountOf(const std::vector<std::string>& AComments, const std::string& AComment)
{
    return static_cast<int>(std::count(AComments.begin(), AComments.end(), AComment));
}

int TitleTags(const std::vector<std::string>& AComments)
{
    return static_cast<int>(std::count_if(AComments.begin(), AComments.end(),
                                          [](const std::string& c) { return c.rfind("TITLE=", 0) == 0; }));
}

struct TChainCase {
    const char* Name;
    TCodecKind Kind;
    int Channels;
};

class ChainedTitles : public ::testing::TestWithParam<TChainCase> {};

// A title before Start, two changes in the stream, chains of unequal length.
TEST_P(ChainedTitles, EachTitleOpensAChainThatDecodesAsOneStream)
{
    const TChainCase& tc = GetParam();
    auto enc = NewEncoder(tc.Kind);
    ASSERT_TRUE(enc->SupportsStreamTitle());
    std::string stream, bytes, error;
    ASSERT_TRUE(enc->SetStreamTitle(KTitles[0], error)) << error;
    ASSERT_TRUE(enc->Start(tc.Channels, KRate, 128, stream, error)) << error;
    const int chainFrames[] = {3 * KRate, 5 * KRate / 2, 7 * KRate / 2};
    std::string firstCall[3];
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            ASSERT_TRUE(enc->SetStreamTitle(KTitles[i], error)) << error;
        }
        EncodeTone(*enc, tc.Channels, chainFrames[i], stream, &firstCall[i]);
    }
    ASSERT_TRUE(enc->Finish(bytes, error)) << error;
    stream += bytes;

    const auto chains = ChainsOf(stream);
    ASSERT_EQ(chains.size(), 3u);
    EXPECT_NE(chains[0].Serial, chains[1].Serial);
    EXPECT_NE(chains[1].Serial, chains[2].Serial);
    for (int i = 0; i < 3; ++i) {
        const auto comments = ChainComments(chains[i]);
        EXPECT_EQ(CountOf(comments, "TITLE=" + KTitles[i]), 1) << "chain " << i;
        EXPECT_EQ(TitleTags(comments), 1) << "chain " << i;
        if (tc.Kind != TCodecKind::OggFlac) {
            EXPECT_EQ(CountOf(comments, "ENCODER=TAVIX Encoder Nativo"), 1) << "chain " << i;
        }
        // Granules count from 0 in each chain, up to exactly its audio.
        EXPECT_EQ(chains[i].Pages.front().Granule, 0) << "chain " << i;
        EXPECT_NEAR(ChainAudioFrames(chains[i], KRate), chainFrames[i], FrameTolerance(tc.Kind))
            << "chain " << i;
    }
    // The change comes out of the first encode after it: the old chain's
    // last pages, then the new chain's first.
    for (int i = 1; i < 3; ++i) {
        std::vector<TOggPage> pages;
        ASSERT_TRUE(ParseOggPages(firstCall[i], pages));
        const auto bos = std::find_if(pages.begin(), pages.end(),
                                      [](const TOggPage& p) { return (p.HeaderType & 0x02) != 0; });
        ASSERT_NE(bos, pages.begin()) << "call " << i;
        ASSERT_NE(bos, pages.end()) << "call " << i;
        EXPECT_EQ(bos->Serial, chains[i].Serial);
        EXPECT_EQ(std::prev(bos)->Serial, chains[i - 1].Serial);
        EXPECT_EQ(std::prev(bos)->HeaderType & 0x04, 0x04);
    }

    TTempDir dir;
    const std::string path = dir.File("chained.ogg");
    WriteTextFile(path, stream);
    const TStreamDecode decoded = DecodeAsStream(path, tc.Channels);
    EXPECT_EQ(decoded.Errors, "");
    const int rate = DecodedRate(tc.Kind);
    EXPECT_NEAR(static_cast<double>(decoded.Pcm.size()) / tc.Channels / rate, 9.0, 0.3);
    EXPECT_GT(ToneLevel(decoded.Pcm, tc.Channels, 0, rate, 1000.0), 0.01);
    // ffprobe names the first chain's title.
    EXPECT_EQ(ProbeFile(path)["TAG:TITLE"], KTitles[0]);
}

INSTANTIATE_TEST_SUITE_P(
    OggCodecs, ChainedTitles,
    ::testing::Values(TChainCase{"VorbisStereo", TCodecKind::OggVorbis, 2},
                      TChainCase{"VorbisMono", TCodecKind::OggVorbis, 1},
                      TChainCase{"FlacStereo", TCodecKind::OggFlac, 2},
                      TChainCase{"FlacMono", TCodecKind::OggFlac, 1},
                      TChainCase{"OpusStereo", TCodecKind::OggOpus, 2},
                      TChainCase{"OpusMono", TCodecKind::OggOpus, 1}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

class StreamTitle : public ::testing::TestWithParam<TCodecKind> {};

TEST_P(StreamTitle, HeaderBytesCarryTheTitleSetBeforeStartAndKeepIt)
{
    std::string header, error;
    auto plain = NewEncoder(GetParam());
    ASSERT_TRUE(plain->Start(2, KRate, 128, header, error)) << error;
    auto chains = ChainsOf(header, true);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(TitleTags(ChainComments(chains[0])), 0);

    auto titled = NewEncoder(GetParam());
    ASSERT_TRUE(titled->SetStreamTitle(KTitles[1], error)) << error;
    EXPECT_EQ(error, "");
    for (int start = 0; start < 2; ++start) {
        ASSERT_TRUE(titled->Start(2, KRate, 128, header, error)) << error;
        chains = ChainsOf(header, true);
        ASSERT_EQ(chains.size(), 1u);
        EXPECT_EQ(CountOf(ChainComments(chains[0]), "TITLE=" + KTitles[1]), 1) << "start " << start;
    }
    // An empty title takes the tag away again, in a new chain. Asked for
    // before any audio, it waits for the first block: no chain ends empty.
    ASSERT_TRUE(titled->SetStreamTitle("", error)) << error;
    std::string stream = header;
    EncodeTone(*titled, 2, KRate, stream);
    std::string bytes;
    ASSERT_TRUE(titled->Finish(bytes, error)) << error;
    stream += bytes;
    chains = ChainsOf(stream);
    ASSERT_EQ(chains.size(), 2u);
    EXPECT_NEAR(ChainAudioFrames(chains[0], KRate), KBlock, FrameTolerance(GetParam()));
    EXPECT_NEAR(ChainAudioFrames(chains[1], KRate), KRate - KBlock, FrameTolerance(GetParam()));
    EXPECT_EQ(TitleTags(ChainComments(chains[1])), 0);

    TTempDir dir;
    const std::string path = dir.File("titled.ogg");
    WriteTextFile(path, stream);
    EXPECT_EQ(ProbeFile(path)["TAG:TITLE"], KTitles[1]);
}

// Only a title that differs from the running chain's, followed by audio,
// makes a chain; a title that cannot be carried is refused.
TEST_P(StreamTitle, NoChainWithoutAChangedTitleAndAudio)
{
    auto enc = NewEncoder(GetParam());
    std::string stream, bytes, error;
    ASSERT_TRUE(enc->SetStreamTitle(KTitles[0], error)) << error;
    ASSERT_TRUE(enc->Start(1, KRate, 96, stream, error)) << error;
    EncodeTone(*enc, 1, KRate, stream);

    ASSERT_TRUE(enc->SetStreamTitle(KTitles[0], error)) << error;
    EncodeTone(*enc, 1, KBlock, stream);
    ASSERT_TRUE(enc->SetStreamTitle(KTitles[2], error)) << error;
    bytes = "stale";
    EXPECT_TRUE(enc->EncodeFloatInterleaved(nullptr, 0, bytes, error)) << error;
    EXPECT_EQ(bytes, "");
    ASSERT_TRUE(enc->SetStreamTitle(KTitles[0], error)) << error;   // back before any audio
    EncodeTone(*enc, 1, KBlock, stream);

    for (const std::string& bad : {std::string("\xC3\x28"), std::string("a\0b", 3),
                                   std::string("\xED\xA0\x80"), std::string("\xC0\xAF")}) {
        EXPECT_FALSE(enc->SetStreamTitle(bad, error));
        EXPECT_EQ(error, "Titulo invalido para o fluxo Ogg: precisa ser texto UTF-8 sem caractere nulo.");
    }
    EncodeTone(*enc, 1, KBlock, stream);
    // A change that no audio follows dies with the stream.
    ASSERT_TRUE(enc->SetStreamTitle(KTitles[2], error)) << error;
    ASSERT_TRUE(enc->Finish(bytes, error)) << error;
    stream += bytes;

    const auto chains = ChainsOf(stream);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(CountOf(ChainComments(chains[0]), "TITLE=" + KTitles[0]), 1);
    EXPECT_NEAR(ChainAudioFrames(chains[0], KRate), KRate + 3 * KBlock, FrameTolerance(GetParam()));
}

// A title longer than an Ogg page: its comment packet spans pages.
TEST_P(StreamTitle, LongTitleSpansPages)
{
    const std::string title = "=" + std::string(100000, 'x') + "\xC3\xA9";
    auto enc = NewEncoder(GetParam());
    std::string stream, bytes, error;
    ASSERT_TRUE(enc->SetStreamTitle(title, error)) << error;
    ASSERT_TRUE(enc->Start(2, KRate, 128, stream, error)) << error;
    EXPECT_GT(stream.size(), title.size());
    EncodeTone(*enc, 2, KRate, stream);
    ASSERT_TRUE(enc->Finish(bytes, error)) << error;
    stream += bytes;
    const auto chains = ChainsOf(stream);
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(CountOf(ChainComments(chains[0]), "TITLE=" + title), 1);
    TTempDir dir;
    const std::string path = dir.File("long.ogg");
    WriteTextFile(path, stream);
    EXPECT_EQ(DecodeAsStream(path, 2).Errors, "");
}

INSTANTIATE_TEST_SUITE_P(OggCodecs, StreamTitle,
                         ::testing::Values(TCodecKind::OggVorbis, TCodecKind::OggFlac,
                                           TCodecKind::OggOpus),
                         [](const auto& AInfo) {
                             return std::string(AInfo.param == TCodecKind::OggVorbis ? "Vorbis"
                                                : AInfo.param == TCodecKind::OggFlac ? "Flac"
                                                                                     : "Opus");
                         });

TEST(StreamTitleElsewhere, AacCarriesNoTitleInside)
{
    TFdkAacPlusEncoder enc;
    std::string error;
    EXPECT_FALSE(enc.SupportsStreamTitle());
    EXPECT_FALSE(enc.SetStreamTitle(KTitles[0], error));
    EXPECT_EQ(error, "Este codec nao leva o titulo dentro do fluxo.");
}

} // namespace
