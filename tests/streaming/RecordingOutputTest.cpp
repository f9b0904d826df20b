#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

#include "codecs/FdkAac.h"
#include "settings/EncoderConfig.h"
#include "streaming/AudioBlock.h"
#include "streaming/EncodeStage.h"
#include "streaming/RecordingOutput.h"
#include "tests/streaming/TransmissionHarness.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitUntil.h"

// The recording output on an encode of its own, fed blocks whose clock the
// test sets, judged by ffprobe/ffmpeg.

namespace {

constexpr int KRate = 44100;

struct TSeen {
    std::string FileName, Text;
    bool IsError;
};

// A recording output, the encode it records, and what it reported from its
// own thread.
class TRecorder {
public:
    TRecorder(const std::string& ACodec, const std::string& AFolder, int ASplitMinutes)
    {
        TEncoderConfig c;
        DefaultEncoderConfig(c);
        c.Codec = ACodec;
        c.Bitrate = 128;
        c.RecordEnabled = true;
        c.RecordFolder = AFolder;
        c.RecordSplitMinutes = ASplitMinutes;
        Output = std::make_unique<TRecordingOutput>(
            c, [this](const std::string& AFile, const std::string& AText, bool AIsError) {
                const std::lock_guard<std::mutex> guard(Lock);
                Seen.push_back({AFile, AText, AIsError});
            });
        Encode = std::make_unique<TEncodeStage>(FindCodecRow(ACodec));
        std::string error;
        EXPECT_TRUE(Encode->Prepare(KRate, 2, c.Bitrate, "", 100, error)) << error;
        Output->RecordFrom(*Encode, KRate, Frames);
        Output->StartThread("recording");
        Encode->StartThread("encode");
    }

    // ASeconds of a 440 Hz tone from AStart on, at ASpeed times real time
    // so the output's queue never has to drop anything.
    void Feed(TWallTime AStart, double ASeconds, double ASpeed = 12)
    {
        const int blocks = static_cast<int>(ASeconds * KRate / Frames);
        const auto blockTime = std::chrono::microseconds(int64_t{Frames} * 1000000 / KRate);
        for (int b = 0; b < blocks; ++b) {
            auto block = std::make_shared<TAudioBlock>();
            block->Frames = Frames;
            block->Start = AStart + b * blockTime;
            block->Samples.resize(static_cast<size_t>(Frames) * 2);
            for (int n = 0; n < Frames; ++n)
                block->Samples[2 * n] = block->Samples[2 * n + 1] =
                    static_cast<float>(0.4 * std::sin(2 * M_PI * 440.0 * double(Fed + n) / KRate));
            Fed += Frames;
            Encode->Feed(std::move(block));
            std::this_thread::sleep_for(blockTime / ASpeed);
        }
    }
    void Finish()
    {
        Encode->EndOfAudio();
        Encode->Join();
        Output->Join();
    }
    std::vector<TSeen> Events()
    {
        const std::lock_guard<std::mutex> guard(Lock);
        return Seen;
    }
    std::string Errors()
    {
        std::string out;
        for (const TSeen& s : Events())
            if (s.IsError)
                out += s.Text + "\n";
        return out;
    }
    // The files opened, in order.
    std::vector<std::string> Files()
    {
        std::vector<std::string> out;
        for (const TSeen& s : Events())
            if (!s.FileName.empty() && !s.IsError && (out.empty() || out.back() != s.FileName))
                out.push_back(s.FileName);
        return out;
    }

    const int Frames = KDefaultFramesPerBlock;
    int64_t Fed = 0;
    std::unique_ptr<TRecordingOutput> Output;
    // Feeds Output: goes first.
    std::unique_ptr<TEncodeStage> Encode;

private:
    std::mutex Lock;
    std::vector<TSeen> Seen;
};

TWallTime LocalClock(int AHour, int AMinute, int ASecond)
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = AHour;
    t.tm_min = AMinute;
    t.tm_sec = ASecond;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

std::string BaseName(const std::string& APath)
{
    return APath.substr(APath.rfind('/') + 1);
}

off_t FileSize(const std::string& APath)
{
    struct stat st {};
    return stat(APath.c_str(), &st) == 0 ? st.st_size : -1;
}

struct TCodecCase {
    const char* Codec;
    const char* Extension;
    const char* Probed;
    // Frames a file may hold beyond what it was given: the codec's own
    // priming and padding, which no container here records.
    int Slack;
};

} // namespace

TEST(BlockQueue, AFullQueueLosesItsOldestBlocksAndCountsThem)
{
    TBlockQueue queue(3);
    for (int i = 0; i < 5; ++i) {
        auto b = std::make_shared<TAudioBlock>();
        b->Frames = 100 + i;
        queue.Push(std::move(b));
    }
    EXPECT_EQ(queue.TakeDroppedFrames(), 201u) << "blocks 0 and 1 went";
    EXPECT_EQ(queue.TakeDroppedFrames(), 0u) << "each loss is told once";
    EXPECT_EQ(queue.Pop(0)->Frames, 102);
    queue.Close();
    queue.Push(std::make_shared<TAudioBlock>());
    EXPECT_EQ(queue.Pop(0)->Frames, 103) << "what was queued is still handed out after the close";
    EXPECT_EQ(queue.Pop(0)->Frames, 104);
    EXPECT_EQ(queue.Pop(1000), nullptr) << "closed and empty: no wait";
    EXPECT_TRUE(queue.Closed());
}

TEST(RecordingClock, SplitTimesAreWholeMultiplesOfTheMinutesSinceMidnight)
{
    EXPECT_EQ(NextSplitAfter(LocalClock(13, 59, 59), 60), LocalClock(14, 0, 0));
    EXPECT_EQ(NextSplitAfter(LocalClock(14, 0, 0), 60), LocalClock(15, 0, 0)) << "a file begun on the hour runs an hour";
    EXPECT_EQ(NextSplitAfter(LocalClock(10, 3, 0), 7), LocalClock(10, 9, 0)) << "609 minutes: 87 periods of 7";
    EXPECT_EQ(NextSplitAfter(LocalClock(23, 58, 0), 7), LocalClock(0, 0, 0) + std::chrono::hours(24))
        << "the day's last period ends at midnight";
    EXPECT_EQ(NextSplitAfter(LocalClock(8, 0, 30), 1), LocalClock(8, 1, 0));
    EXPECT_EQ(RecordingBaseName(LocalClock(9, 5, 7)), "2026-12-09_09-05-07");
}

TEST(RecordingOutput, SplitFilesJoinWithoutAGapAndEachPlaysByItself)
{
    const TCodecCase cases[] = {
        // LAME's delay, and a flush that completes the last frame and one more.
        {"audio/mpeg", ".mp3", "mp3", 1105 + 2 * 1152},
        {"audio/ogg", ".ogg", "vorbis", 0},
        {"audio/flac", ".oga", "flac", 0},
        // HE-AAC's spectral-band replication primes three frames.
        {"audio/aacp", ".aac", "aac", 3 * 2048 + 1024},
    };
    for (const TCodecCase& c : cases) {
        SCOPED_TRACE(c.Codec);
        if (std::string why; std::string(c.Codec) == "audio/aacp" && !TFdkAacPlusEncoder::IsAvailable(why)) {
            std::cout << "HE-AAC part skipped: " << why << "\n";
            continue;
        }
        TTempDir dir;
        TRecorder rec(c.Codec, dir.Path(), 1);
        ASSERT_GT(rec.Frames, 0);
        // 2 s before noon, the minute up to 12:01, then 3 s more.
        rec.Feed(LocalClock(11, 59, 58), 65);
        rec.Finish();
        EXPECT_EQ(rec.Errors(), "");
        const std::vector<std::string> files = rec.Files();
        ASSERT_EQ(files.size(), 3u);
        EXPECT_EQ(BaseName(files[0]), std::string("2026-12-09_11-59-58") + c.Extension);
        EXPECT_EQ(BaseName(files[1]), std::string("2026-12-09_12-00-00") + c.Extension);
        EXPECT_EQ(BaseName(files[2]), std::string("2026-12-09_12-01-00") + c.Extension);
        EXPECT_EQ(rec.Events().back().FileName, "") << "the end of the recording is told";

        const double expected[] = {2.0, 60.0, double(rec.Fed) / KRate - 62.0};
        int64_t decodedTotal = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string bytes = ReadTextFile(files[i]);
            if (std::string(c.Extension) == ".ogg" || std::string(c.Extension) == ".oga") {
                EXPECT_EQ(bytes.substr(0, 4), "OggS") << files[i] << " starts with its own stream headers";
            }
            const TDecodedStream d = DecodeStream(bytes);
            EXPECT_EQ(d.Codec, c.Probed) << files[i];
            EXPECT_EQ(d.Channels, 2);
            const auto n = static_cast<int64_t>(d.Mono.size());
            decodedTotal += n;
            // A block is cut at the boundary that falls inside it.
            EXPECT_NEAR(double(n), expected[i] * KRate, rec.Frames + c.Slack) << files[i];
            EXPECT_GT(ToneDominance(d.Mono, 440), 10.0) << files[i];
        }
        EXPECT_GE(decodedTotal, rec.Fed) << "nothing lost between the files";
        EXPECT_LE(decodedTotal, rec.Fed + 3 * c.Slack) << "nothing twice";
    }
}

TEST(RecordingOutput, AFileSizeLimitStopsTheRecordingWithItsReason)
{
    TTempDir dir;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 60000;
    // Only this test's recording writes while the limit holds.
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    TRecorder rec("audio/flac", dir.Path(), 0);
    rec.Feed(LocalClock(12, 0, 0), 8);
    ASSERT_TRUE(WaitUntil([&] { return rec.Output->Ended(); }, 10000)) << "a failed write ends the recording";
    setrlimit(RLIMIT_FSIZE, &saved);
    rec.Finish();

    const std::vector<TSeen> seen = rec.Events();
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(seen.back().IsError);
    EXPECT_EQ(seen.back().FileName, "");
    EXPECT_EQ(seen.back().Text.rfind("Gravacao parada: File too large (" + dir.Path() + "/", 0), 0u)
        << seen.back().Text;
    const std::vector<std::string> files = rec.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(FileSize(files[0]), 0);
    EXPECT_LE(FileSize(files[0]), 60000);
}

TEST(RecordingOutput, AFolderThatCannotHoldFilesIsRefusedWithItsReason)
{
    TTempDir dir;
    WriteTextFile(dir.File("plain"), "x");
    const struct {
        std::string Folder, Reason;
    } cases[] = {
        {dir.File("plain") + "/sub", "Not a directory"},
        {dir.File("missing"), "No such file or directory"},
    };
    for (const auto& c : cases) {
        TRecorder rec("audio/mpeg", c.Folder, 0);
        rec.Feed(LocalClock(12, 0, 0), 0.5);
        rec.Finish();
        const std::vector<TSeen> seen = rec.Events();
        ASSERT_EQ(seen.size(), 1u) << c.Folder;
        EXPECT_TRUE(seen[0].IsError);
        EXPECT_EQ(seen[0].Text.rfind("Gravacao parada: " + c.Reason + " (" + c.Folder + "/2026-12-09_12-00-00.mp3)", 0),
                  0u)
            << seen[0].Text;
    }
}

TEST(RecordingOutput, ANameTakenGetsANumberAndNothingIsOverwritten)
{
    TTempDir dir;
    WriteTextFile(dir.File("2026-12-09_12-00-00.mp3"), "kept");
    TRecorder rec("audio/mpeg", dir.Path(), 0);
    rec.Feed(LocalClock(12, 0, 0), 1);
    rec.Finish();
    ASSERT_EQ(rec.Files().size(), 1u) << rec.Errors();
    EXPECT_EQ(BaseName(rec.Files()[0]), "2026-12-09_12-00-00_2.mp3");
    EXPECT_EQ(ReadTextFile(dir.File("2026-12-09_12-00-00.mp3")), "kept");
}
