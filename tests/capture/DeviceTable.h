#pragma once

#include <map>

#include "capture/AudioDevice.h"

// A device list filled by the test, for cases no real machine offers
// (devices of other host APIs, outputs without inputs, missing indexes).
class TDeviceTable : public TAudioDeviceList {
public:
    // The record's Index is taken as its position; AHostApiType -1 means
    // no host-API information.
    TDeviceTable& Add(int AIndex, const std::string& AName, int AInputs, int AOutputs,
                      int32_t AHostApiType = KLoopbackHostApiType, double ARate = 44100.0,
                      double AHighLatency = 0.05)
    {
        TAudioDeviceInfo info;
        info.Device.Index = AIndex;
        info.Device.Name = AName;
        info.Device.HostApiType = AHostApiType;
        info.Device.HostApiName = AHostApiType == KLoopbackHostApiType ? KLoopbackHostApiName
                                  : AHostApiType == -1                 ? ""
                                                                       : "Other";
        info.Device.MaxInputChannels = AInputs;
        info.Device.MaxOutputChannels = AOutputs;
        info.Device.DefaultSampleRate = ARate;
        info.DefaultHighInputLatency = AHighLatency;
        FDevices[AIndex] = info;
        if (AIndex >= FCount)
            FCount = AIndex + 1;
        return *this;
    }
    int Count() const override { return FCount; }
    std::optional<TAudioDeviceInfo> Info(int AIndex) const override
    {
        const auto it = FDevices.find(AIndex);
        if (it == FDevices.end())
            return std::nullopt;
        return it->second;
    }

private:
    std::map<int, TAudioDeviceInfo> FDevices;
    int FCount = 0;
};
