#pragma once

#include <string>

#include <gtest/gtest.h>

#include "settings/EncoderConfig.h"

class TAudioRig;

// The test audio rig of this process, started on first use; the first use
// must come before the capture library is first initialised.
TAudioRig& UiRig();
// PortAudio index of a rig device ("monitor_test" or "speakers_test").
int RigDeviceIndex(const std::string& AName);
// Settings that stream the rig's monitor as MP3 to icecast on 127.0.0.1.
void UseRigAndServer(TEncoderConfig& AConfig, int APort, const std::string& APassword);

// Starts the rig before the first test of a binary that registers it with
// testing::AddGlobalTestEnvironment.
class TRigEnvironment : public testing::Environment {
public:
    void SetUp() override { UiRig(); }
};
