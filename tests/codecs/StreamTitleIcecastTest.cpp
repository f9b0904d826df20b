// Titles inside Ogg streams through a real icecast2: a hand-made source
// login sends the encoder's bytes at the pace of the audio, the title
// changes midway, and a listener that joined before the change decodes
// across it.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "codecs/CodecTable.h"
#include "CodecTestSupport.h"
#include "net/WireText.h"
#include "platform/CodePage.h"
#include "tests/support/IcecastServer.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int KRate = 44100;
constexpr int KBlock = 2048;
const std::string KFirstTitle = "Primeira M\xC3\xBAsica";
const std::string KSecondTitle = "Segunda \xE2\x80\x94 Can\xC3\xA7\xC3\xA3o = 2";

// The "title" of the status page's source, JSON escapes and icecast's
// numeric references ("&#8212;") undone; "(none)" when there is none.
std::string StatusTitle(const std::string& AJson)
{
    const std::string key = "\"title\":\"";
    size_t i = AJson.find(key);
    if (i == std::string::npos)
        return "(none)";
    std::string out;
    for (i += key.size(); i < AJson.size() && AJson[i] != '"'; ++i) {
        if (AJson[i] == '\\' && i + 1 < AJson.size())
            ++i;   // an escaped character stands for itself
        const size_t end = AJson.find_first_not_of("0123456789", i + 2);
        if (AJson.compare(i, 2, "&#") == 0 && end != std::string::npos && end > i + 2 && end <= i + 9 &&
            AJson[end] == ';') {
            out += EncodeUtf8(std::u32string(1, static_cast<char32_t>(std::stoul(AJson.substr(i + 2, end - i - 2)))));
            i = end;
        } else {
            out += AJson[i];
        }
    }
    return out;
}

// A source on mount /stream, logged in by hand, fed by an encoder in
// blocks of tone no more than a second ahead of the clock.
class TPacedSource {
public:
    TPacedSource(const TIcecastServer& AServer, TAudioEncoder& AEncoder, const std::string& AContentType)
        : FEncoder(AEncoder), FTone(SineWave(1000, KRate, 2, KRate))
    {
        FSocket = socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{5, 0};
        setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        setsockopt(FSocket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(AServer.Port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
            return;
        const std::string login = "SOURCE /stream HTTP/1.0\r\nAuthorization: Basic " +
                                  Base64Encode("source:" + AServer.SourcePassword()) +
                                  "\r\nContent-Type: " + AContentType + "\r\nIce-Name: Teste\r\n\r\n";
        if (!Send(login))
            return;
        char buffer[512];
        while (FAnswer.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = recv(FSocket, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            FAnswer.append(buffer, static_cast<size_t>(n));
        }
        FStart = TClock::now();
    }
    ~TPacedSource() { close(FSocket); }

    const std::string& Answer() const { return FAnswer; }
    bool Send(const std::string& ABytes)
    {
        for (size_t sent = 0; sent < ABytes.size();) {
            const ssize_t n = send(FSocket, ABytes.data() + sent, ABytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    // Streams until ADone (asked every quarter second) holds, for at most
    // AMs; false when time ran out or the source failed.
    template <class TDone>
    bool StreamUntil(TDone ADone, int AMs)
    {
        const auto until = TClock::now() + std::chrono::milliseconds(AMs);
        auto nextCheck = TClock::now();
        std::string bytes, error;
        while (!FFailed && TClock::now() < until) {
            if (TClock::now() >= nextCheck) {
                if (ADone())
                    return true;
                nextCheck = TClock::now() + std::chrono::milliseconds(250);
            }
            if (SecondsSent() - std::chrono::duration<double>(TClock::now() - FStart).count() > 1.0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const size_t at = static_cast<size_t>(FFramesSent % (KRate - KBlock)) * 2;
            FFailed = !FEncoder.EncodeFloatInterleaved(FTone.data() + at, KBlock, bytes, error) ||
                      !Send(bytes);
            EXPECT_FALSE(FFailed) << "the source stopped: " << error;
            FFramesSent += KBlock;
        }
        return false;
    }
    bool StreamFor(int AMs)
    {
        StreamUntil([] { return false; }, AMs);
        return !FFailed;
    }
    double SecondsSent() const { return static_cast<double>(FFramesSent) / KRate; }

private:
    TAudioEncoder& FEncoder;
    std::vector<float> FTone;
    int FSocket = -1;
    std::string FAnswer;
    TClock::time_point FStart;
    int64_t FFramesSent = 0;
    bool FFailed = false;
};

class IcecastStreamTitle : public ::testing::TestWithParam<const char*> {};

TEST_P(IcecastStreamTitle, ChainedTitleReachesTheServerAndTheListener)
{
    RequireProgram("curl");
    const TCodecRow* row = FindCodecRow(GetParam());
    ASSERT_NE(row, nullptr);
    const bool vorbis = row->Kind == TCodecKind::OggVorbis;
    // ffmpeg decodes Opus at its own rate.
    const int decodedRate = row->Kind == TCodecKind::OggOpus ? 48000 : KRate;
    TIcecastServer server;
    TTempDir dir;
    auto encoder = CreateEncoder(*row);
    std::string header, error;
    ASSERT_TRUE(encoder->SetStreamTitle(KFirstTitle, error)) << error;
    ASSERT_TRUE(encoder->Start(2, KRate, 128, header, error)) << error;
    TPacedSource source(server, *encoder, row->ContentType);
    ASSERT_NE(source.Answer().find(" 200"), std::string::npos) << source.Answer() << server.ErrorLog();
    ASSERT_TRUE(source.Send(header));

    std::string status;
    const auto listeners = [&](int ACount) {
        return [&, ACount] {
            status = server.StatusJson();
            return status.find("\"listeners\":" + std::to_string(ACount)) != std::string::npos;
        };
    };
    const auto showing = [&](const std::string& ATitle) {
        return [&, ATitle] {
            status = server.StatusJson();
            return StatusTitle(status) == ATitle;
        };
    };
    // icecast2 2.4.4 shows the title of a Vorbis chain; of an Ogg FLAC or
    // Opus one it shows none (no "title" at all), so there only the
    // listener can tell that the title went out.
    if (vorbis) {
        EXPECT_TRUE(source.StreamUntil(showing(KFirstTitle), 8000)) << status;
    }

    // Both listeners join before the change and go on well past it: the
    // decoding one wants more audio than was sent before the change.
    // icecast2 counts a listener seconds late on a loaded machine (an Opus
    // one always), and the change waits for both.
    const double listenSeconds = source.SecondsSent() + 7.0;
    const std::string url = server.BaseUrl() + "/stream";
    const std::string capture = dir.File("capture.ogg");
    TChildProcess raw({"curl", "-s", "--max-time", std::to_string(listenSeconds + 3), "-o", capture, url});
    auto decoded = std::async(std::launch::async, [&] { return DecodeAsStream(url, 2, listenSeconds); });
    ASSERT_TRUE(source.StreamUntil(listeners(2), 8000)) << status;
    ASSERT_TRUE(source.StreamFor(1500));
    ASSERT_TRUE(encoder->SetStreamTitle(KSecondTitle, error)) << error;
    const double secondsAtChange = source.SecondsSent();
    if (vorbis) {
        EXPECT_TRUE(source.StreamUntil(showing(KSecondTitle), 8000)) << status;
    }
    ASSERT_TRUE(source.StreamUntil(
        [&] { return decoded.wait_for(std::chrono::seconds(0)) == std::future_status::ready && !raw.Running(); },
        20000));

    const TStreamDecode listener = decoded.get();
    EXPECT_EQ(listener.Errors, "");
    EXPECT_NEAR(static_cast<double>(listener.Pcm.size()) / 2 / decodedRate, listenSeconds, 0.3);
    EXPECT_GT(listenSeconds, secondsAtChange + 1.0);
    // The capture ends anywhere: up to its last page start it is whole pages.
    std::string got = ReadTextFile(capture);
    got.resize(got.rfind("OggS") == std::string::npos ? 0 : got.rfind("OggS"));
    std::vector<TOggPage> pages;
    ASSERT_TRUE(ParseOggPages(got, pages)) << got.size() << " bytes";
    std::vector<TOggChain> chains;
    ASSERT_TRUE(SplitOggChains(pages, chains, true));
    ASSERT_EQ(chains.size(), 2u);
    auto has = [](const std::vector<std::string>& AComments, const std::string& AComment) {
        return std::find(AComments.begin(), AComments.end(), AComment) != AComments.end();
    };
    EXPECT_TRUE(has(ChainComments(chains[0]), "TITLE=" + KFirstTitle));
    EXPECT_TRUE(has(ChainComments(chains[1]), "TITLE=" + KSecondTitle));
}

INSTANTIATE_TEST_SUITE_P(OggCodecs, IcecastStreamTitle,
                         ::testing::Values("audio/ogg", "audio/flac", "audio/opus"),
                         [](const auto& AInfo) {
                             const std::string id = AInfo.param;
                             return std::string(id == "audio/ogg" ? "Vorbis" : id == "audio/flac" ? "Flac" : "Opus");
                         });

} // namespace
