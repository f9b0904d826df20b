#include "streaming/RecordingOutput.h"

#include <algorithm>

namespace {

// A slow disk may fall this far behind before audio is dropped.
constexpr int KQueueSeconds = 30;
constexpr int KPopWaitMs = 500;

} // namespace

TRecordingOutput::TRecordingOutput(const TEncoderConfig& AConfig, TRecordReport AReport)
    : TPipelineOutput(1), FConfig(AConfig), FReport(std::move(AReport)), FCodecRow(FindCodecRow(AConfig.Codec))
{
}

TRecordingOutput::~TRecordingOutput()
{
    Stop();
    Join();
}

void TRecordingOutput::Prepare(int32_t ASampleRate, int AOutChannels, int32_t AFramesPerBlock)
{
    FConfig.SampleRate = ASampleRate;
    FOutChannels = AOutChannels;
    FQueue.SetCapacity(static_cast<size_t>(KQueueSeconds * ASampleRate / std::max(AFramesPerBlock, 1) + 1));
}

void TRecordingOutput::Failed(const std::string& AWhat)
{
    Fail(AWhat);
}

void TRecordingOutput::Run()
{
    // Everything queued is written, also after a stop: the file ends where
    // the transmission did.
    for (;;) {
        const TAudioBlockPtr block = FQueue.Pop(KPopWaitMs);
        if (!block) {
            if (FQueue.Closed())
                break;
            continue;
        }
        if (!Record(*block))
            return;
    }
    const std::string path = FFile.Path();
    if (CloseFile() && !path.empty())
        FReport("", "Gravacao concluida: " + path, false);
}

bool TRecordingOutput::Record(const TAudioBlock& ABlock)
{
    if (FFile.IsOpen() && FConfig.RecordSplitMinutes > 0 && ABlock.Start >= FNextSplit && !CloseFile())
        return false;
    if (!FFile.IsOpen() && !OpenFile(ABlock.Start))
        return false;
    if (FQueue.TakeDroppedFrames() > 0 && !FToldDrops) {
        FToldDrops = true;
        FReport(FFile.Path(), "Gravacao atrasada: parte do audio foi descartada.", true);
    }
    if (!FEncoder->EncodeFloatInterleaved(SamplesIn(ABlock, FOutChannels), ABlock.Frames, FBytes, FError) ||
        !FFile.Write(FBytes, FError)) {
        Fail(FError);
        return false;
    }
    return true;
}

bool TRecordingOutput::OpenFile(TWallTime AStart)
{
    FEncoder = CreateEncoder(*FCodecRow);
    std::string header;
    if (!FEncoder->Start(FOutChannels, FConfig.SampleRate, FConfig.Bitrate, header, FError) ||
        !FFile.Create(FConfig.RecordFolder, RecordingBaseName(AStart), RecordingExtension(FCodecRow->Kind),
                      FError) ||
        !FFile.Write(header, FError)) {
        Fail(FError);
        return false;
    }
    if (FConfig.RecordSplitMinutes > 0)
        FNextSplit = NextSplitAfter(AStart, FConfig.RecordSplitMinutes);
    FToldDrops = false;
    FReport(FFile.Path(), "Gravando em " + FFile.Path(), false);
    return true;
}

bool TRecordingOutput::CloseFile()
{
    if (!FFile.IsOpen())
        return true;
    if (!FEncoder->Finish(FBytes, FError) || !FFile.Write(FBytes, FError) || !FFile.Close(FError)) {
        Fail(FError);
        return false;
    }
    FEncoder.reset();
    return true;
}

void TRecordingOutput::Fail(const std::string& AReason)
{
    std::string ignored;
    FFile.Close(ignored);
    FEncoder.reset();
    // Nothing more is taken: the capture's hand-overs become no-ops.
    FQueue.Close();
    FReport("", "Gravacao parada: " + AReason, true);
}
