#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <sys/types.h>

enum TAudioSourceKind { askInput = 0, askOutputLoopback = 1 };

// Up to this many servers take the same programme at once.
inline constexpr int KMaxServers = 4;

// A further streaming server: its own login, stream and codec, the fields
// of server 1 that TEncoderConfig holds in its "[Transmissao]" section.
struct TServerRecord {
    bool Enabled = false;
    std::string ServerType;
    std::string Host;
    int32_t Port = 0;
    std::string Mount;
    std::string UserName;
    std::string Password;
    std::string StreamName;
    std::string Genre;
    std::string Url;
    bool UseTls = false;
    std::string TlsFingerprint;
    std::string Codec;
    int32_t Bitrate = 0;
    // LAME's quality for MP3: 0 (best, slowest) to 9 (fastest).
    int32_t Mp3Quality = 2;
    int32_t Channels = 0;
    // Where listeners tune in (a relay's address, say); empty: the server's
    // own host, port and mount.
    std::string ListenUrl;
};

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
    // The source login, title updates and listener statistics over TLS.
    bool UseTls = false;
    // A server certificate trusted although the CA store does not vouch for
    // it: hex SHA-256 of its DER form ("AB:CD:..."), case and colons ignored.
    std::string TlsFingerprint;
    std::string Codec;
    int32_t Bitrate = 0;
    // LAME's quality for MP3: 0 (best, slowest) to 9 (fastest).
    int32_t Mp3Quality = 2;
    int32_t SampleRate = 0;
    int32_t Channels = 0;
    int32_t AudioDeviceIndex = 0;
    std::string AudioDeviceName;
    TAudioSourceKind AudioSourceKind = askInput;
    // The sound server's own name of the chosen device ("pulse:<name>"),
    // which survives a reordered device list; empty for PortAudio devices
    // and in older settings files, which go by AudioDeviceIndex alone.
    std::string AudioDeviceId;
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
    // A local recording of what goes on air, one file per transmission,
    // a new one every RecordSplitMinutes on the clock (0: never).
    bool RecordEnabled = false;
    std::string RecordFolder;
    int32_t RecordSplitMinutes = 0;
    // The local control interface (HTTP with JSON on 127.0.0.1), off
    // unless asked for; every request carries the token.
    bool ControlEnabled = false;
    int32_t ControlPort = 0;
    std::string ControlToken;
    // Alarms: the programme silent (the keep-alive tone aside) below
    // SilenceThresholdDb dBFS for SilenceSeconds; the program listening to
    // its own stream as a listener would. Each raised and cleared alarm
    // may fetch AlarmWebhookUrl and run AlarmCommand (empty: neither).
    bool SilenceAlarmEnabled = true;
    int32_t SilenceThresholdDb = -50;
    int32_t SilenceSeconds = 20;
    bool ListenerCheckEnabled = false;
    std::string AlarmWebhookUrl;
    std::string AlarmCommand;
    // A fallback programme for dead air: when the programme has been silent
    // (or its channel lost) for FallbackSeconds (0: the silence alarm's
    // time), FallbackSource plays instead: "pasta" (the files of
    // FallbackFolder, in order, looping), "url" (a stream at FallbackUrl)
    // or "canal" (a second capture channel, FallbackDeviceId/Name), with
    // FallbackTitle sent as the title while it plays.
    bool FallbackEnabled = false;
    std::string FallbackSource;
    std::string FallbackFolder;
    std::string FallbackUrl;
    std::string FallbackDeviceId;
    std::string FallbackDeviceName;
    std::string FallbackTitle;
    int32_t FallbackSeconds = 0;
    // Server 1's listening address (see TServerRecord::ListenUrl).
    std::string ListenUrl;
    // Servers 2 to KMaxServers ("[Servidor2]"...), each used when enabled.
    std::array<TServerRecord, KMaxServers - 1> ExtraServers{};
};

// The settings as server AServer (1 to KMaxServers) streams them: the
// transmission's, with that server's login, stream and codec.
TEncoderConfig ConfigForServer(const TEncoderConfig& AConfig, int AServer);

// The user's Music folder (XDG_MUSIC_DIR) when it exists, else the home
// folder.
std::string DefaultRecordingFolder();

void DefaultEncoderConfig(TEncoderConfig& AConfig);
// Never fails: no file gives the defaults and creates none; a file that
// cannot be read gives the defaults too, and SettingsLoadError says why.
void LoadEncoderConfigFrom(const std::string& APath, TEncoderConfig& AConfig);
// Throws ESettingsWriteError ("Unable to write to <path>") at the first key
// that cannot be written; keys written before it stay written. A file that
// cannot be read is never written over: while the last load of the path
// failed, or when the file cannot be read now, nothing is written. Keys
// this program does not know stay in the file as they were.
void SaveEncoderConfigTo(const std::string& APath, const TEncoderConfig& AConfig);
// Whether the file of device ADevice and inode AInode is a settings file
// this process has loaded: it holds passwords and the token, and must never
// be read as anything else (a now-playing file linked to it, say).
bool IsSettingsFile(dev_t ADevice, ino_t AInode);
// The settings hold passwords, the token and a shell command. A file that
// someone other than its owner could have written (it or its folder
// writable by group or others, or owned by another user than this one or
// root) is obeyed without the alarm command and the control interface;
// AWhy then says so, in the operator's words, else it is empty.
TEncoderConfig ObeyableSettings(const std::string& APath, const TEncoderConfig& AConfig, std::string& AWhy);
// A warning when the file holds a password and other users may read it;
// empty otherwise.
std::string SettingsExposedWarning(const std::string& APath, const TEncoderConfig& AConfig);
// Why the last load of APath gave the defaults although something is there
// ("Unable to read <path>: <reason>"); empty once a load went well.
std::string SettingsLoadError(const std::string& APath);

// "TavixEncoder.ini" beside the executable when that file is there or the
// folder is writable (a portable copy); otherwise the one in the user's
// configuration folder, $XDG_CONFIG_HOME/tavix-encoder/ (by default
// ~/.config/tavix-encoder/), which is created private to the user.
std::string ConfigFilePath();
// The same choice for an executable in AExeDir (ending in "/").
std::string ConfigFilePathFor(const std::string& AExeDir);

std::string SourceKindToText(TAudioSourceKind AKind);
TAudioSourceKind TextToSourceKind(const std::string& AText);
