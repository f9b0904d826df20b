#include "capture/PortAudioCapture.h"
#include "capture/SoundServerChannel.h"
#include "engine/NativeEncoderThread.h"

std::unique_ptr<TCaptureSource> TNativeEncoderThread::OpenCaptureStream()
{
    // A note (the loopback's partner) comes before any login: nothing is on
    // air yet.
    const TCaptureReport report = [this](const std::string& AText, bool AIsError) {
        PostTransmission(AIsError ? TOutputPhase::Failed : TOutputPhase::Connecting,
                         AIsError ? TRefusal::Capture : TRefusal::None, AText);
    };
    if (IsSoundServerChannel(FConfig))
        return OpenSoundServerChannel(FConfig, KDefaultFramesPerBlock, report);
    return OpenPortAudioChannel(FConfig, report);
}

std::unique_ptr<TCaptureSource> TNativeEncoderThread::ReopenCaptureStream(std::string& AWhy)
{
    TEncoderConfig config = FConfig;
    const TCaptureReport report = [&AWhy](const std::string& AText, bool AIsError) {
        if (AIsError)
            AWhy = AText;
    };
    if (IsSoundServerChannel(config))
        return OpenSoundServerChannel(config, KDefaultFramesPerBlock, report, /*AKeepRate=*/true);
    return OpenPortAudioChannel(config, report);
}
