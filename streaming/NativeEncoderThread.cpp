#include "streaming/NativeEncoderThread.h"

TNativeEncoderThread::TNativeEncoderThread(const TEncoderConfig& AConfig)
    : TThread(true), FConfig(AConfig), FProcessor(AConfig.EQBands, AConfig.CompressorEnabled)
{
}

TNativeEncoderThread::~TNativeEncoderThread()
{
    // Execute uses this object's members: it must be over before they go.
    if (!Finished())
        StopNow();
    Shutdown();
    CloseConnection();
}

void TNativeEncoderThread::UpdateAudioProcessing(const TEncoderConfig& AConfig)
{
    FProcessor.UpdateAudioProcessing(AConfig.EQBands, AConfig.CompressorEnabled);
}

void TNativeEncoderThread::ProcessAudioBlock(const float* AInput, int AFrames, int AInChannels,
                                             std::vector<float>& AOutput, int AOutChannels)
{
    const TAudioLevels levels =
        FProcessor.ProcessAudioBlock(AInput, AFrames, AInChannels, AOutput, AOutChannels, FConfig.SampleRate);
    PostLevel(levels.L, levels.R, levels.LowBand, levels.MidBand, levels.HighBand);
}

void TNativeEncoderThread::ApplyKeepAliveTone(std::vector<float>& AOutput, int AFrames, int AOutChannels,
                                              uint64_t ANowTick)
{
    FProcessor.ApplyKeepAliveTone(AOutput, AFrames, AOutChannels, ANowTick, FConfig.SampleRate);
}

void TNativeEncoderThread::StopNow()
{
    Terminate();
    ShutdownConnection();
}

void TNativeEncoderThread::PostStatus(const std::string& AText, bool AIsError)
{
    FLastStatus = AText;
    FLastError = AIsError;
    if (!OnStatus)
        return;
    Synchronize([this] { OnStatus(this, FLastStatus, FLastError); });
}

void TNativeEncoderThread::PostLevel(double AL, double AR, double ALow, double AMid, double AHigh)
{
    FLastL = AL;
    FLastR = AR;
    FLastLow = ALow;
    FLastMid = AMid;
    FLastHigh = AHigh;
    if (!OnLevel)
        return;
    Synchronize([this] { OnLevel(this, FLastL, FLastR, FLastLow, FLastMid, FLastHigh); });
}
