#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codecs/AudioEncoder.h"
#include "codecs/CodecTable.h"
#include "streaming/AudioBlock.h"
#include "streaming/PipelineOutput.h"
#include "streaming/StageThread.h"

// One encode of what goes on air, on a thread of its own, handed to every
// output that carries it: a server and, beside server 1, the recording,
// which so cost one encoder, not two. Outputs join and leave the stream on
// their own (a login, a new file) at the chunks marked for it.
class TEncodeStage : public TStageThread {
public:
    // ARow null: a codec this build lacks, which Prepare refuses.
    // AMp3Quality: LAME's quality, when the codec is MP3.
    explicit TEncodeStage(const TCodecRow* ARow, int32_t AMp3Quality = KDefaultMp3Quality)
        : FRow(ARow), FMp3Quality(AMp3Quality), FQueue(1)
    {
    }
    ~TEncodeStage() override;

    // Before StartThread.
    void Attach(TPipelineOutput* AOutput) { FOutputs.push_back(AOutput); }
    // Before StartThread: the capture's rate, the channels encoded, the
    // title the first stream carries; starts the encoder (false with why).
    bool Prepare(int32_t ASampleRate, int AChannels, int32_t ABitrateKbps, const std::string& ATitle,
                 size_t AQueueBlocks, std::string& AError);
    // Never waits (see TDropQueue).
    void Feed(TAudioBlockPtr ABlock) { FQueue.Push(std::move(ABlock)); }
    // The capture has ended: what is queued is encoded, the stream ended
    // and every output told.
    void EndOfAudio() { FQueue.Close(); }

    // The codec's streams start with a header an output must have first
    // (the Ogg ones); known after Prepare.
    bool HasStreamHeader() const { return FHasStreamHeader; }
    // The title of the streams to come, for the codecs that carry it in
    // the stream. Any thread.
    void SetStreamTitle(const std::string& ATitle);
    // A new stream begins with the first block that starts at AWhen or
    // later (a file's split time; at once for a login: TWallTime::min()).
    // Ignored for codecs without a stream header. Any thread.
    void RestartAt(TWallTime AWhen);

protected:
    void Run() override;
    void Failed(const std::string& AWhat) override;
    void Finished() override;

private:
    bool EncodeBlock(const TAudioBlock& ABlock);
    // The title and restarts asked for since the last block.
    bool TakeAsks(TWallTime ABlockStart, std::optional<std::string>& ATitle);
    void DeliverAll(const TEncodedChunkPtr& AChunk);
    bool AnyTaking() const;
    // ABlock's samples in the channels encoded: mixed down as the
    // processing would, or mono doubled.
    const float* SamplesIn(const TAudioBlock& ABlock);

    const TCodecRow* FRow;
    const int32_t FMp3Quality;
    int FChannels = 2;
    int32_t FSampleRate = 44100;
    int32_t FBitrate = 128;
    std::unique_ptr<TAudioEncoder> FEncoder;
    // The running stream's header; only this stage's thread touches it
    // once started. Whether there is one is set before and never changes.
    std::string FHeader;
    bool FHasStreamHeader = false;
    // The next chunk begins the stream that Start opened.
    bool FFresh = false;
    std::vector<TPipelineOutput*> FOutputs;
    TBlockQueue FQueue;
    std::string FFailure;

    std::mutex FAskLock;
    std::optional<std::string> FTitle; // under FAskLock; none asked since
    std::vector<TWallTime> FRestarts;  // under FAskLock

    std::vector<float> FConverted;
    std::string FBytes;
    std::string FError;
};
