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

void TRecordingOutput::RecordFrom(TEncodeStage& AEncode, int32_t ASampleRate, int32_t AFramesPerBlock)
{
    FEncode = &AEncode;
    AEncode.Attach(this);
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
        const TEncodedChunkPtr chunk = FQueue.Pop(KPopWaitMs);
        if (!chunk) {
            if (FQueue.Closed())
                break;
            continue;
        }
        if (!Record(*chunk))
            return;
    }
    if (const std::string why = StreamFailure(); !why.empty()) {
        Fail(why);
        return;
    }
    const std::string path = FFile.Path();
    if (CloseFile() && !path.empty())
        FReport("", "Gravacao concluida: " + path, false);
}

bool TRecordingOutput::Record(const TEncodedChunk& AChunk)
{
    if (FFile.IsOpen() && SplitDue(AChunk) && !EndFileAt(AChunk))
        return false;
    if (!FFile.IsOpen()) {
        // A file starts with a stream of its own, and with audio.
        if (!AChunk.Joinable || AChunk.Frames == 0) {
            AskNewStream();
            return true;
        }
        if (!OpenFile(AChunk.Start))
            return false;
    }
    if (FQueue.TakeDroppedFrames() > 0) {
        if (!FToldDrops)
            FReport(FFile.Path(), "Gravacao atrasada: parte do audio foi descartada.", true);
        FToldDrops = true;
        // What was dropped may have begun a new Ogg stream: the file goes
        // on with a new one.
        FPlace.Leave();
    }
    if (!FPlace.Take(AChunk, FBytes)) {
        AskNewStream();
        return true;
    }
    FAskedNewStream = false;
    if (!FFile.Write(FBytes, FError)) {
        Fail(FError);
        return false;
    }
    return true;
}

bool TRecordingOutput::SplitDue(const TEncodedChunk& AChunk) const
{
    return FConfig.RecordSplitMinutes > 0 && AChunk.Frames > 0 && AChunk.Start >= FNextSplit;
}

bool TRecordingOutput::EndFileAt(const TEncodedChunk& AChunk)
{
    if (!AChunk.Joinable) {
        // The new stream was asked for too late (the disk was behind):
        // the file goes on until it comes.
        AskNewStream();
        return true;
    }
    if (FPlace.In() && !FFile.Write(AChunk.Tail, FError)) {
        Fail(FError);
        return false;
    }
    return CloseFile();
}

void TRecordingOutput::AskNewStream()
{
    if (!FAskedNewStream)
        FEncode->RestartAt(TWallTime::min());
    FAskedNewStream = true;
}

bool TRecordingOutput::OpenFile(TWallTime AStart)
{
    if (!FFile.Create(FConfig.RecordFolder, RecordingBaseName(AStart), RecordingExtension(FCodecRow->Kind), FError)) {
        Fail(FError);
        return false;
    }
    FPlace.Leave();
    if (FConfig.RecordSplitMinutes > 0) {
        FNextSplit = NextSplitAfter(AStart, FConfig.RecordSplitMinutes);
        FEncode->RestartAt(FNextSplit);
    }
    FToldDrops = false;
    FReport(FFile.Path(), "Gravando em " + FFile.Path(), false);
    return true;
}

bool TRecordingOutput::CloseFile()
{
    if (!FFile.IsOpen())
        return true;
    if (!FFile.Close(FError)) {
        Fail(FError);
        return false;
    }
    return true;
}

void TRecordingOutput::Fail(const std::string& AReason)
{
    std::string ignored;
    FFile.Close(ignored);
    // Nothing more is taken: the encode's hand-overs become no-ops.
    FQueue.Close();
    FReport("", "Gravacao parada: " + AReason, true);
}
