#pragma once

#include <functional>
#include <memory>
#include <string>

#include "codecs/AudioEncoder.h"
#include "codecs/CodecTable.h"
#include "settings/EncoderConfig.h"
#include "streaming/PipelineOutput.h"
#include "streaming/RecordingFile.h"

// AFileName: the file being written, empty once none is.
using TRecordReport =
    std::function<void(const std::string& AFileName, const std::string& AText, bool AIsError)>;

// What goes on air, into local files in the transmission's codec: one per
// transmission, or a new one at each split time on the clock, each with
// its own stream headers so it plays by itself. A failing disk ends only
// the recording.
class TRecordingOutput : public TPipelineOutput {
public:
    TRecordingOutput(const TEncoderConfig& AConfig, TRecordReport AReport);
    ~TRecordingOutput() override;

    // The capture's rate, the channels on air and the block length.
    void Prepare(int32_t ASampleRate, int AOutChannels, int32_t AFramesPerBlock);

protected:
    void Run() override;
    void Failed(const std::string& AWhat) override;

private:
    bool Record(const TAudioBlock& ABlock);
    bool OpenFile(TWallTime AStart);
    bool CloseFile();
    // Ends the recording: says why, keeps what was written.
    void Fail(const std::string& AReason);

    TEncoderConfig FConfig;
    TRecordReport FReport;
    const TCodecRow* FCodecRow = nullptr;
    int FOutChannels = 2;
    TRecordingFile FFile;
    std::unique_ptr<TAudioEncoder> FEncoder;
    TWallTime FNextSplit{};
    bool FToldDrops = false;
    std::string FBytes;
    std::string FError;
};
