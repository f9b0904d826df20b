#include "capture/PortAudioCapture.h"
#include "capture/SoundServerChannel.h"
#include "streaming/NativeEncoderThread.h"

std::unique_ptr<TCaptureSource> TNativeEncoderThread::OpenCaptureStream()
{
    const TCaptureReport report = [this](const std::string& AText, bool AIsError) { PostStatus(AText, AIsError); };
    if (IsSoundServerChannel(FConfig))
        return OpenSoundServerChannel(FConfig, KDefaultFramesPerBlock, report);
    return OpenPortAudioChannel(FConfig, report);
}
