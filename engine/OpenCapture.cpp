#include "capture/PortAudioCapture.h"
#include "capture/SoundServerChannel.h"
#include "engine/NativeEncoderThread.h"

std::unique_ptr<TCaptureSource> TNativeEncoderThread::OpenCaptureStream(std::string* AAbsentWhy)
{
    // A note (the loopback's partner) comes before any login: nothing is on
    // air yet. A refusal waits until it is known whether the channel may
    // yet come.
    std::string refusal;
    const TCaptureReport report = [this, &refusal](const std::string& AText, bool AIsError) {
        if (AIsError)
            refusal = AText;
        else
            PostTransmission(TOutputPhase::Connecting, TRefusal::None, AText);
    };
    bool absent = false;
    std::unique_ptr<TCaptureSource> source =
        IsSoundServerChannel(FConfig) ? OpenSoundServerChannel(FConfig, KDefaultFramesPerBlock, report, false, &absent)
                                      : OpenPortAudioChannel(FConfig, report);
    if (source)
        return source;
    if (absent && AAbsentWhy)
        *AAbsentWhy = refusal;
    else
        PostTransmission(TOutputPhase::Failed, TRefusal::Capture, refusal);
    return nullptr;
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

std::unique_ptr<TCaptureSource> TNativeEncoderThread::OpenFallbackChannel(std::string& AWhy)
{
    TEncoderConfig config = FConfig;
    config.AudioDeviceId = FConfig.FallbackDeviceId;
    config.AudioDeviceName = FConfig.FallbackDeviceName;
    config.AudioDeviceIndex = KSoundServerIndexBase;
    config.Channels = FOutChannels;
    // An output is heard through its loopback, an input as it is.
    config.AudioSourceKind = askInput;
    const std::string name = config.AudioDeviceId.substr(std::string(KSoundServerIdPrefix).size());
    for (const TSoundServerDevice& dev : EnumerateSoundServerDevices().Devices)
        if (dev.Name == name && dev.IsSink)
            config.AudioSourceKind = askOutputLoopback;
    const TCaptureReport report = [&AWhy](const std::string& AText, bool AIsError) {
        if (AIsError)
            AWhy = AText;
    };
    return OpenSoundServerChannel(config, KDefaultFramesPerBlock, report, /*AKeepRate=*/true);
}
