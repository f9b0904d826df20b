#include "streaming/EncodeStage.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr int KPopWaitMs = 500;

} // namespace

TEncodeStage::~TEncodeStage()
{
    EndOfAudio();
    Join();
}

bool TEncodeStage::Prepare(int32_t ASampleRate, int AChannels, int32_t ABitrateKbps, const std::string& ATitle,
                           size_t AQueueBlocks, std::string& AError)
{
    FSampleRate = ASampleRate;
    FChannels = AChannels;
    FBitrate = ABitrateKbps;
    FQueue.SetCapacity(AQueueBlocks);
    if (!FRow) {
        AError = "Codec nao suportado neste build.";
        return false;
    }
    FEncoder = CreateEncoder(*FRow, FMp3Quality);
    // An Ogg stream carries it from its first page.
    if (std::string ignored; FEncoder->SupportsStreamTitle())
        FEncoder->SetStreamTitle(ATitle, ignored);
    if (!FEncoder->Start(FChannels, FSampleRate, FBitrate, FHeader, AError))
        return false;
    FHasStreamHeader = !FHeader.empty();
    FFresh = true;
    return true;
}

void TEncodeStage::SetStreamTitle(const std::string& ATitle)
{
    const std::lock_guard<std::mutex> guard(FAskLock);
    FTitle = ATitle;
}

void TEncodeStage::RestartAt(TWallTime AWhen)
{
    const std::lock_guard<std::mutex> guard(FAskLock);
    FRestarts.push_back(AWhen);
}

void TEncodeStage::Run()
{
    while (AnyTaking()) {
        const TAudioBlockPtr block = FQueue.Pop(KPopWaitMs);
        if (!block) {
            if (FQueue.Closed())
                break;
            continue;
        }
        if (!EncodeBlock(*block))
            return;
    }
    // The streams' last bytes: an Ogg stream's end page, the codec's
    // buffered frames.
    auto last = std::make_shared<TEncodedChunk>();
    if (!FEncoder->Finish(last->Tail, FError)) {
        FFailure = FError;
        return;
    }
    DeliverAll(std::move(last));
}

bool TEncodeStage::EncodeBlock(const TAudioBlock& ABlock)
{
    auto chunk = std::make_shared<TEncodedChunk>();
    chunk->Frames = ABlock.Frames;
    chunk->Start = ABlock.Start;
    std::optional<std::string> title;
    const bool restart = TakeAsks(ABlock.Start, title);
    if (std::string ignored; title && FEncoder->SupportsStreamTitle())
        FEncoder->SetStreamTitle(*title, ignored);
    // A stream that holds no audio yet is new enough for anyone joining.
    if (restart && !FFresh) {
        if (!FEncoder->Finish(chunk->Tail, FError) ||
            !FEncoder->Start(FChannels, FSampleRate, FBitrate, FHeader, FError)) {
            FFailure = FError;
            return false;
        }
        FFresh = true;
    }
    chunk->Joinable = FFresh || !FHasStreamHeader;
    if (!FEncoder->EncodeFloatInterleaved(SamplesIn(ABlock), ABlock.Frames, FBytes, FError)) {
        FFailure = FError;
        return false;
    }
    if (FFresh)
        chunk->Bytes = FHeader;
    chunk->Bytes += FBytes;
    FFresh = false;
    DeliverAll(std::move(chunk));
    return true;
}

bool TEncodeStage::TakeAsks(TWallTime ABlockStart, std::optional<std::string>& ATitle)
{
    const std::lock_guard<std::mutex> guard(FAskLock);
    ATitle = std::exchange(FTitle, std::nullopt);
    if (!FHasStreamHeader) {
        FRestarts.clear();
        return false;
    }
    const auto due = std::remove_if(FRestarts.begin(), FRestarts.end(),
                                    [ABlockStart](TWallTime AWhen) { return AWhen <= ABlockStart; });
    const bool restart = due != FRestarts.end();
    FRestarts.erase(due, FRestarts.end());
    return restart;
}

void TEncodeStage::DeliverAll(const TEncodedChunkPtr& AChunk)
{
    for (TPipelineOutput* output : FOutputs)
        output->Deliver(AChunk);
}

bool TEncodeStage::AnyTaking() const
{
    return std::any_of(FOutputs.begin(), FOutputs.end(), [](const TPipelineOutput* AOutput) { return AOutput->Taking(); });
}

void TEncodeStage::Failed(const std::string& AWhat)
{
    FFailure = AWhat;
}

void TEncodeStage::Finished()
{
    // Nothing more comes; the outputs learn why when the encode broke.
    FQueue.Close();
    for (TPipelineOutput* output : FOutputs)
        output->EndOfStream(FFailure);
}

const float* TEncodeStage::SamplesIn(const TAudioBlock& ABlock)
{
    if (FChannels == ABlock.Channels)
        return ABlock.Samples.data();
    const auto frames = static_cast<size_t>(ABlock.Frames);
    FConverted.resize(frames * static_cast<size_t>(FChannels));
    const float* in = ABlock.Samples.data();
    for (size_t i = 0; i < frames; ++i) {
        if (FChannels == 1)
            FConverted[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
        else
            FConverted[2 * i] = FConverted[2 * i + 1] = in[i];
    }
    return FConverted.data();
}
