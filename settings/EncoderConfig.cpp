#include "settings/EncoderConfig.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "platform/ExePath.h"
#include "platform/Text.h"
#include "settings/BandValue.h"
#include "settings/IniFile.h"
#include "settings/SettingsWriteError.h"

namespace {

// Decimal, or hexadecimal after "0x"; anything else (or out of range) fails.
bool ParseInt32(const std::string& AText, int32_t& AValue)
{
    std::string t = AText;
    int base = 10;
    bool negative = false;
    size_t pos = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        pos = 2;
    } else if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        pos = 1;
    }
    if (pos >= t.size())
        return false;
    long long value = 0;
    for (; pos < t.size(); ++pos) {
        const char c = t[pos];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL)
            return false;
    }
    if (base == 16) {
        // Hexadecimal text holds the 32 bits as they are: 0xFFFFFFFF is -1.
        AValue = static_cast<int32_t>(static_cast<uint32_t>(value));
        return true;
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    AValue = static_cast<int32_t>(value);
    return true;
}

class TConfigFile {
public:
    explicit TConfigFile(const std::string& APath) : FIni(APath) {}

    void Str(const char* ASection, const char* AKey, std::string& AField)
    {
        AField = FIni.ReadString(ASection, AKey, AField);
    }
    void Int(const char* ASection, const char* AKey, int32_t& AField)
    {
        int32_t v;
        if (ParseInt32(FIni.ReadString(ASection, AKey, std::to_string(AField)), v))
            AField = v;
    }
    void Bool(const char* ASection, const char* AKey, bool& AField)
    {
        int32_t v;
        if (ParseInt32(FIni.ReadString(ASection, AKey, AField ? "1" : "0"), v))
            AField = v != 0;
    }
    TIniFile& Ini() { return FIni; }

private:
    TIniFile FIni;
};

void Write(TIniFile& AIni, const char* ASection, const std::string& AKey, const std::string& AValue)
{
    if (!AIni.WriteString(ASection, AKey, AValue))
        throw ESettingsWriteError(AIni.Path());
}

} // namespace

ESettingsWriteError::ESettingsWriteError(const std::string& APath)
    : std::runtime_error("Unable to write to " + APath)
{
}

void DefaultEncoderConfig(TEncoderConfig& AConfig)
{
    AConfig = TEncoderConfig{};
    AConfig.Language = "pt-BR";
    AConfig.ServerType = "icecast";
    AConfig.Port = 8000;
    AConfig.Mount = "/stream";
    AConfig.UserName = "source";
    AConfig.StreamName = "TAVIX Encoder";
    AConfig.Genre = "Radio";
    AConfig.Codec = "audio/mpeg";
    AConfig.Bitrate = 192;
    AConfig.SampleRate = 44100;
    AConfig.Channels = 2;
    AConfig.AudioDeviceIndex = -1;
    AConfig.AudioSourceKind = askInput;
    AConfig.EQPreset = "flat";
    AConfig.EQBands.fill(0.0);
    AConfig.CompressorEnabled = false;
    AConfig.FtpEnabled = false;
    AConfig.FtpPort = 21;
    AConfig.FtpRemoteDir = "/";
    AConfig.FtpRemoteFile = "noar.txt";
    AConfig.FtpPassive = true;
}

std::string ConfigFilePath()
{
    return ExecutableDir() + "TavixEncoder.ini";
}

std::string SourceKindToText(TAudioSourceKind AKind)
{
    return AKind == askOutputLoopback ? "output-loopback" : "input";
}

TAudioSourceKind TextToSourceKind(const std::string& AText)
{
    const std::string t = AsciiLower(AText);
    return (t == "output-loopback" || t == "output") ? askOutputLoopback : askInput;
}

void LoadEncoderConfig(TEncoderConfig& AConfig)
{
    LoadEncoderConfigFrom(ConfigFilePath(), AConfig);
}

void SaveEncoderConfig(const TEncoderConfig& AConfig)
{
    SaveEncoderConfigTo(ConfigFilePath(), AConfig);
}

void LoadEncoderConfigFrom(const std::string& APath, TEncoderConfig& AConfig)
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    AConfig = c;
    TConfigFile f(APath);
    if (!f.Ini().Exists())
        return;
    f.Str("Geral", "Language", c.Language);
    f.Str("Transmissao", "ServerType", c.ServerType);
    f.Str("Transmissao", "Host", c.Host);
    f.Int("Transmissao", "Port", c.Port);
    f.Str("Transmissao", "Mount", c.Mount);
    f.Str("Transmissao", "UserName", c.UserName);
    f.Str("Transmissao", "Password", c.Password);
    f.Str("Transmissao", "StreamName", c.StreamName);
    f.Str("Transmissao", "Genre", c.Genre);
    f.Str("Transmissao", "Url", c.Url);
    f.Str("Transmissao", "EndpointUrl", c.EndpointUrl);
    f.Str("Transmissao", "Codec", c.Codec);
    f.Int("Transmissao", "Bitrate", c.Bitrate);
    f.Int("Transmissao", "SampleRate", c.SampleRate);
    f.Int("Transmissao", "Channels", c.Channels);
    f.Int("Audio", "DeviceIndex", c.AudioDeviceIndex);
    f.Str("Audio", "DeviceName", c.AudioDeviceName);
    c.AudioSourceKind = TextToSourceKind(
        f.Ini().ReadString("Audio", "SourceKind", SourceKindToText(c.AudioSourceKind)));
    f.Str("Metadata", "NoarPath", c.NoarPath);
    f.Str("EQ", "Preset", c.EQPreset);
    f.Bool("EQ", "CompressorEnabled", c.CompressorEnabled);
    f.Bool("FTP", "Enabled", c.FtpEnabled);
    f.Str("FTP", "Host", c.FtpHost);
    f.Int("FTP", "Port", c.FtpPort);
    f.Str("FTP", "User", c.FtpUser);
    f.Str("FTP", "Password", c.FtpPassword);
    f.Str("FTP", "RemoteDir", c.FtpRemoteDir);
    f.Str("FTP", "RemoteFile", c.FtpRemoteFile);
    f.Str("FTP", "CronUrl", c.FtpCronUrl);
    f.Bool("FTP", "Passive", c.FtpPassive);
    const char sep = UserDecimalSeparator();
    for (int i = 0; i < 10; ++i) {
        const std::string key = "Band" + std::to_string(i);
        double v;
        if (ParseBandValue(f.Ini().ReadString("EQ", key, FormatBandValue(c.EQBands[i], sep)), sep, v))
            c.EQBands[i] = v;
    }
    AConfig = c;
}

void SaveEncoderConfigTo(const std::string& APath, const TEncoderConfig& AConfig)
{
    TIniFile ini(APath);
    const auto& c = AConfig;
    auto num = [](int32_t v) { return std::to_string(v); };
    auto flag = [](bool v) { return std::string(v ? "1" : "0"); };
    Write(ini, "Geral", "Language", c.Language);
    Write(ini, "Transmissao", "ServerType", c.ServerType);
    Write(ini, "Transmissao", "Host", c.Host);
    Write(ini, "Transmissao", "Port", num(c.Port));
    Write(ini, "Transmissao", "Mount", c.Mount);
    Write(ini, "Transmissao", "UserName", c.UserName);
    Write(ini, "Transmissao", "Password", c.Password);
    Write(ini, "Transmissao", "StreamName", c.StreamName);
    Write(ini, "Transmissao", "Genre", c.Genre);
    Write(ini, "Transmissao", "Url", c.Url);
    Write(ini, "Transmissao", "EndpointUrl", c.EndpointUrl);
    Write(ini, "Transmissao", "Codec", c.Codec);
    Write(ini, "Transmissao", "Bitrate", num(c.Bitrate));
    Write(ini, "Transmissao", "SampleRate", num(c.SampleRate));
    Write(ini, "Transmissao", "Channels", num(c.Channels));
    Write(ini, "Audio", "DeviceIndex", num(c.AudioDeviceIndex));
    Write(ini, "Audio", "DeviceName", c.AudioDeviceName);
    Write(ini, "Audio", "SourceKind", SourceKindToText(c.AudioSourceKind));
    Write(ini, "Metadata", "NoarPath", c.NoarPath);
    Write(ini, "EQ", "Preset", c.EQPreset);
    Write(ini, "EQ", "CompressorEnabled", flag(c.CompressorEnabled));
    Write(ini, "FTP", "Enabled", flag(c.FtpEnabled));
    Write(ini, "FTP", "Host", c.FtpHost);
    Write(ini, "FTP", "Port", num(c.FtpPort));
    Write(ini, "FTP", "User", c.FtpUser);
    Write(ini, "FTP", "Password", c.FtpPassword);
    Write(ini, "FTP", "RemoteDir", c.FtpRemoteDir);
    Write(ini, "FTP", "RemoteFile", c.FtpRemoteFile);
    Write(ini, "FTP", "CronUrl", c.FtpCronUrl);
    Write(ini, "FTP", "Passive", flag(c.FtpPassive));
    const char sep = UserDecimalSeparator();
    for (int i = 0; i < 10; ++i)
        Write(ini, "EQ", "Band" + std::to_string(i), FormatBandValue(c.EQBands[i], sep));
}
