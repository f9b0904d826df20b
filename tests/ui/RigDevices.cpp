#include "tests/ui/RigDevices.h"

#include <memory>

#include "capture/PortAudioDevices.h"
#include "tests/support/AudioRig.h"

TAudioRig& UiRig()
{
    static std::unique_ptr<TAudioRig> rig = std::make_unique<TAudioRig>();
    return *rig;
}

int RigDeviceIndex(const std::string& AName)
{
    UiRig();
    for (const TTavixAudioDevice& device : EnumerateAudioDevices())
        if (device.Name == AName)
            return device.Index;
    return -1;
}

void UseRigAndServer(TEncoderConfig& AConfig, int APort, const std::string& APassword)
{
    AConfig.Host = "127.0.0.1";
    AConfig.Port = APort;
    AConfig.Password = APassword;
    AConfig.Codec = "audio/mpeg";
    AConfig.AudioDeviceIndex = RigDeviceIndex(TAudioRig::KMonitorDevice);
    AConfig.AudioSourceKind = askInput;
    AConfig.AudioDeviceName = "Entrada: monitor_test  [ALSA]";
}
