#include "streaming/NativeEncoderThread.h"

TNativeEncoderThread::TNativeEncoderThread(const TEncoderConfig& AConfig)
    : TThread(true), FConfig(AConfig)
{
    std::lock_guard<std::mutex> lock(FAudioLock);
    FEQBands = FConfig.EQBands;
    FCompressorEnabled = FConfig.CompressorEnabled;
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
    std::lock_guard<std::mutex> lock(FAudioLock);
    FEQBands = AConfig.EQBands;
    FCompressorEnabled = AConfig.CompressorEnabled;
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
