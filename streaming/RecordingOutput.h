#pragma once

#include <functional>
#include <string>

#include "codecs/CodecTable.h"
#include "settings/EncoderConfig.h"
#include "streaming/EncodeStage.h"
#include "streaming/PipelineOutput.h"
#include "streaming/RecordingFile.h"

// AFileName: the file being written, empty once none is.
using TRecordReport =
    std::function<void(const std::string& AFileName, const std::string& AText, bool AIsError)>;

// What goes on air, into local files: the bytes server 1's encode makes,
// so the codec's work is done once. One file per transmission, or a new
// one at each split time on the clock, each beginning a stream of its own
// (its Ogg headers first) so it plays by itself. A failing disk ends only
// the recording.
class TRecordingOutput : public TPipelineOutput {
public:
    TRecordingOutput(const TEncoderConfig& AConfig, TRecordReport AReport);
    ~TRecordingOutput() override;

    // Before AEncode's thread starts: records what it makes, AFramesPerBlock
    // frames at ASampleRate a chunk.
    void RecordFrom(TEncodeStage& AEncode, int32_t ASampleRate, int32_t AFramesPerBlock);

protected:
    void Run() override;
    void Failed(const std::string& AWhat) override;

private:
    bool Record(const TEncodedChunk& AChunk);
    bool SplitDue(const TEncodedChunk& AChunk) const;
    // The running file ends at the first chunk at its split time that
    // begins a stream (at once for the codecs without stream headers).
    bool EndFileAt(const TEncodedChunk& AChunk);
    bool OpenFile(TWallTime AStart);
    bool CloseFile();
    // Asks the encode for a new stream to start at, once until it comes.
    void AskNewStream();
    // Ends the recording: says why, keeps what was written.
    void Fail(const std::string& AReason);

    TEncoderConfig FConfig;
    TRecordReport FReport;
    const TCodecRow* FCodecRow = nullptr;
    TEncodeStage* FEncode = nullptr;
    TStreamPlace FPlace;
    bool FAskedNewStream = false;
    TRecordingFile FFile;
    TWallTime FNextSplit{};
    bool FToldDrops = false;
    std::string FBytes;
    std::string FError;
};
