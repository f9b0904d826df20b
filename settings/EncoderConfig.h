#pragma once

#include <array>
#include <cstdint>
#include <string>

enum TAudioSourceKind { askInput = 0, askOutputLoopback = 1 };

// Every user setting. A plain value: copies share nothing.
struct TEncoderConfig {
    std::string Language;
    std::string ServerType;
    std::string Host;
    int32_t Port = 0;
    std::string Mount;
    std::string UserName;
    std::string Password;
    std::string StreamName;
    std::string Genre;
    std::string Url;
    std::string EndpointUrl;
    std::string Codec;
    int32_t Bitrate = 0;
    int32_t SampleRate = 0;
    int32_t Channels = 0;
    int32_t AudioDeviceIndex = 0;
    std::string AudioDeviceName;
    TAudioSourceKind AudioSourceKind = askInput;
    std::string NoarPath;
    std::string EQPreset;
    std::array<double, 10> EQBands{};
    bool CompressorEnabled = false;
    bool FtpEnabled = false;
    std::string FtpHost;
    int32_t FtpPort = 0;
    std::string FtpUser;
    std::string FtpPassword;
    std::string FtpRemoteDir;
    std::string FtpRemoteFile;
    std::string FtpCronUrl;
    bool FtpPassive = false;
};

void DefaultEncoderConfig(TEncoderConfig& AConfig);
// Never fails: no file gives the defaults and creates none.
void LoadEncoderConfig(TEncoderConfig& AConfig);
// Throws ESettingsWriteError ("Unable to write to <path>") at the first key
// that cannot be written; keys written before it stay written.
void SaveEncoderConfig(const TEncoderConfig& AConfig);
// Same, on an explicit file (the two above use ConfigFilePath()).
void LoadEncoderConfigFrom(const std::string& APath, TEncoderConfig& AConfig);
void SaveEncoderConfigTo(const std::string& APath, const TEncoderConfig& AConfig);

// "TavixEncoder.ini" in the executable's folder.
std::string ConfigFilePath();

std::string SourceKindToText(TAudioSourceKind AKind);
TAudioSourceKind TextToSourceKind(const std::string& AText);
