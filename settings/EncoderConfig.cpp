#include "settings/EncoderConfig.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

#include "platform/ExePath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "settings/BandValue.h"
#include "settings/IniFile.h"
#include "settings/SettingsWriteError.h"

namespace {

constexpr const char* KConfigFileName = "TavixEncoder.ini";

// $XDG_CONFIG_HOME/tavix-encoder/, or ~/.config/tavix-encoder/ when it is
// unset or not absolute (as the base-directory rules say); empty when no
// home is known either.
std::string UserConfigFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : nullptr;
        }
        if (!home || home[0] != '/')
            return "";
        base = std::string(home) + "/.config";
    }
    if (base.back() != '/')
        base += '/';
    return base + "tavix-encoder/";
}

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

// Every key of the file, in file order, and the field it holds. The ten
// band values follow, in section EQ.
using TMember = std::variant<std::string TEncoderConfig::*, int32_t TEncoderConfig::*, bool TEncoderConfig::*,
                             TAudioSourceKind TEncoderConfig::*>;
struct TKey {
    const char* Section;
    const char* Name;
    TMember Member;
};
const TKey KKeys[] = {
    {"Geral", "Language", &TEncoderConfig::Language},
    {"Transmissao", "ServerType", &TEncoderConfig::ServerType},
    {"Transmissao", "Host", &TEncoderConfig::Host},
    {"Transmissao", "Port", &TEncoderConfig::Port},
    {"Transmissao", "Mount", &TEncoderConfig::Mount},
    {"Transmissao", "UserName", &TEncoderConfig::UserName},
    {"Transmissao", "Password", &TEncoderConfig::Password},
    {"Transmissao", "StreamName", &TEncoderConfig::StreamName},
    {"Transmissao", "Genre", &TEncoderConfig::Genre},
    {"Transmissao", "Url", &TEncoderConfig::Url},
    {"Transmissao", "Codec", &TEncoderConfig::Codec},
    {"Transmissao", "Bitrate", &TEncoderConfig::Bitrate},
    {"Transmissao", "Qualidade", &TEncoderConfig::Mp3Quality},
    {"Transmissao", "SampleRate", &TEncoderConfig::SampleRate},
    {"Transmissao", "Channels", &TEncoderConfig::Channels},
    {"Transmissao", "Tls", &TEncoderConfig::UseTls},
    {"Transmissao", "TlsFingerprint", &TEncoderConfig::TlsFingerprint},
    {"Transmissao", "EnderecoOuvinte", &TEncoderConfig::ListenUrl},
    {"Audio", "DeviceIndex", &TEncoderConfig::AudioDeviceIndex},
    {"Audio", "DeviceName", &TEncoderConfig::AudioDeviceName},
    {"Audio", "SourceKind", &TEncoderConfig::AudioSourceKind},
    {"Audio", "DeviceId", &TEncoderConfig::AudioDeviceId},
    {"Metadata", "NoarPath", &TEncoderConfig::NoarPath},
    {"EQ", "Preset", &TEncoderConfig::EQPreset},
    {"EQ", "CompressorEnabled", &TEncoderConfig::CompressorEnabled},
    {"FTP", "Enabled", &TEncoderConfig::FtpEnabled},
    {"FTP", "Host", &TEncoderConfig::FtpHost},
    {"FTP", "Port", &TEncoderConfig::FtpPort},
    {"FTP", "User", &TEncoderConfig::FtpUser},
    {"FTP", "Password", &TEncoderConfig::FtpPassword},
    {"FTP", "RemoteDir", &TEncoderConfig::FtpRemoteDir},
    {"FTP", "RemoteFile", &TEncoderConfig::FtpRemoteFile},
    {"FTP", "CronUrl", &TEncoderConfig::FtpCronUrl},
    {"FTP", "Passive", &TEncoderConfig::FtpPassive},
    {"Gravacao", "Ativa", &TEncoderConfig::RecordEnabled},
    {"Gravacao", "Pasta", &TEncoderConfig::RecordFolder},
    {"Gravacao", "DividirMinutos", &TEncoderConfig::RecordSplitMinutes},
    {"Controle", "Ativo", &TEncoderConfig::ControlEnabled},
    {"Controle", "Porta", &TEncoderConfig::ControlPort},
    {"Controle", "Token", &TEncoderConfig::ControlToken},
    {"Alarme", "Silencio", &TEncoderConfig::SilenceAlarmEnabled},
    {"Alarme", "SilencioDb", &TEncoderConfig::SilenceThresholdDb},
    {"Alarme", "SilencioSegundos", &TEncoderConfig::SilenceSeconds},
    {"Alarme", "Ouvinte", &TEncoderConfig::ListenerCheckEnabled},
    {"Alarme", "Webhook", &TEncoderConfig::AlarmWebhookUrl},
    {"Alarme", "Comando", &TEncoderConfig::AlarmCommand},
    {"Reserva", "Ativo", &TEncoderConfig::FallbackEnabled},
    {"Reserva", "Fonte", &TEncoderConfig::FallbackSource},
    {"Reserva", "Pasta", &TEncoderConfig::FallbackFolder},
    {"Reserva", "Url", &TEncoderConfig::FallbackUrl},
    {"Reserva", "DeviceId", &TEncoderConfig::FallbackDeviceId},
    {"Reserva", "DeviceName", &TEncoderConfig::FallbackDeviceName},
    {"Reserva", "Titulo", &TEncoderConfig::FallbackTitle},
    {"Reserva", "Segundos", &TEncoderConfig::FallbackSeconds},
};

// Why the last load of each path gave the defaults although a file is
// there. Its saves refuse meanwhile: the record holds defaults, and writing
// them would wipe the operator's settings.
std::mutex GLoadErrorsLock;
std::map<std::string, std::string> GLoadErrors;
// Every settings file loaded, under the same lock.
std::set<std::string> GLoadedPaths;

void NoteLoadError(const std::string& APath, const std::string& AError)
{
    const std::lock_guard<std::mutex> guard(GLoadErrorsLock);
    if (AError.empty())
        GLoadErrors.erase(APath);
    else
        GLoadErrors[APath] = AError;
}

std::string BandKey(int AIndex)
{
    return "Band" + std::to_string(AIndex);
}

// The file form of one field of a record of type T.
template <class T>
struct TToText {
    const T& Record;
    std::string operator()(std::string T::*AField) const { return Record.*AField; }
    std::string operator()(int32_t T::*AField) const { return std::to_string(Record.*AField); }
    std::string operator()(bool T::*AField) const { return Record.*AField ? "1" : "0"; }
    std::string operator()(TAudioSourceKind T::*AField) const { return SourceKindToText(Record.*AField); }
};

// Stores the file text of one field; what does not parse keeps the field.
template <class T>
struct TFromText {
    T& Record;
    const std::string& Text;
    void operator()(std::string T::*AField) const { Record.*AField = Text; }
    void operator()(int32_t T::*AField) const
    {
        int32_t v;
        if (ParseInt32(Text, v))
            Record.*AField = v;
    }
    void operator()(bool T::*AField) const
    {
        int32_t v;
        if (ParseInt32(Text, v))
            Record.*AField = v != 0;
    }
    void operator()(TAudioSourceKind T::*AField) const { Record.*AField = TextToSourceKind(Text); }
};

// The keys of each further server's section, "[Servidor2]" to "[Servidor4]".
using TServerMember = std::variant<std::string TServerRecord::*, int32_t TServerRecord::*, bool TServerRecord::*>;
struct TServerKey {
    const char* Name;
    TServerMember Member;
};
const TServerKey KServerKeys[] = {
    {"Ativo", &TServerRecord::Enabled},
    {"ServerType", &TServerRecord::ServerType},
    {"Host", &TServerRecord::Host},
    {"Port", &TServerRecord::Port},
    {"Mount", &TServerRecord::Mount},
    {"UserName", &TServerRecord::UserName},
    {"Password", &TServerRecord::Password},
    {"StreamName", &TServerRecord::StreamName},
    {"Genre", &TServerRecord::Genre},
    {"Url", &TServerRecord::Url},
    {"Codec", &TServerRecord::Codec},
    {"Bitrate", &TServerRecord::Bitrate},
    {"Qualidade", &TServerRecord::Mp3Quality},
    {"Channels", &TServerRecord::Channels},
    {"Tls", &TServerRecord::UseTls},
    {"TlsFingerprint", &TServerRecord::TlsFingerprint},
    {"EnderecoOuvinte", &TServerRecord::ListenUrl},
};

std::string ServerSection(size_t AExtraIndex)
{
    return "Servidor" + std::to_string(AExtraIndex + 2);
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
    AConfig.Mp3Quality = 2;
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
    AConfig.RecordEnabled = false;
    AConfig.RecordFolder = DefaultRecordingFolder();
    AConfig.RecordSplitMinutes = 0;
    AConfig.ControlEnabled = false;
    AConfig.ControlPort = 8090;
    AConfig.ControlToken.clear();
    AConfig.SilenceAlarmEnabled = true;
    AConfig.SilenceThresholdDb = -50;
    AConfig.SilenceSeconds = 20;
    AConfig.ListenerCheckEnabled = false;
    AConfig.FallbackEnabled = false;
    AConfig.FallbackSource = "pasta";
    AConfig.FallbackSeconds = 0;
    for (TServerRecord& server : AConfig.ExtraServers) {
        server = TServerRecord{};
        server.ServerType = "icecast";
        server.Port = 8000;
        server.Mount = "/stream";
        server.UserName = "source";
        server.StreamName = "TAVIX Encoder";
        server.Genre = "Radio";
        server.Codec = "audio/mpeg";
        server.Bitrate = 128;
        server.Mp3Quality = 2;
        server.Channels = 2;
    }
}

TEncoderConfig ConfigForServer(const TEncoderConfig& AConfig, int AServer)
{
    TEncoderConfig c = AConfig;
    if (AServer < 2 || AServer > KMaxServers)
        return c;
    const TServerRecord& s = AConfig.ExtraServers[static_cast<size_t>(AServer - 2)];
    c.ServerType = s.ServerType;
    c.Host = s.Host;
    c.Port = s.Port;
    c.Mount = s.Mount;
    c.UserName = s.UserName;
    c.Password = s.Password;
    c.StreamName = s.StreamName;
    c.Genre = s.Genre;
    c.Url = s.Url;
    c.UseTls = s.UseTls;
    c.TlsFingerprint = s.TlsFingerprint;
    c.Codec = s.Codec;
    c.Bitrate = s.Bitrate;
    c.Mp3Quality = s.Mp3Quality;
    c.Channels = s.Channels;
    c.ListenUrl = s.ListenUrl;
    return c;
}

std::string ConfigFilePath()
{
    return ConfigFilePathFor(ExecutableDir());
}

namespace {

// Folders the package manager owns: never a portable copy's own folder,
// even for root, who may write there.
bool IsSystemProgramFolder(const std::string& AFolder)
{
    for (const char* prefix : {"/usr/", "/bin/", "/sbin/"})
        if (AFolder.rfind(prefix, 0) == 0)
            return true;
    return false;
}

} // namespace

std::string ConfigFilePathFor(const std::string& AExeDir)
{
    const std::string beside = AExeDir + KConfigFileName;
    // A program whose folder is unknown has no file beside it.
    if (!AExeDir.empty() &&
        (RegularFileExists(beside) || (FolderWritable(AExeDir) && !IsSystemProgramFolder(AExeDir))))
        return beside;
    const std::string folder = UserConfigFolder();
    // Nowhere to go: the save names the file beside the program it could
    // not write, which is where the operator will look.
    if (!AExeDir.empty() && (folder.empty() || !CreatePrivateFolders(folder)))
        return beside;
    return folder + KConfigFileName;
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

std::string SettingsLoadError(const std::string& APath)
{
    const std::lock_guard<std::mutex> guard(GLoadErrorsLock);
    const auto found = GLoadErrors.find(APath);
    return found == GLoadErrors.end() ? "" : found->second;
}

bool IsSettingsFile(dev_t ADevice, ino_t AInode)
{
    const std::lock_guard<std::mutex> guard(GLoadErrorsLock);
    for (const std::string& loaded : GLoadedPaths) {
        struct stat settings {};
        if (stat(loaded.c_str(), &settings) == 0 && settings.st_dev == ADevice && settings.st_ino == AInode)
            return true;
    }
    return false;
}

void LoadEncoderConfigFrom(const std::string& APath, TEncoderConfig& AConfig)
{
    {
        const std::lock_guard<std::mutex> guard(GLoadErrorsLock);
        GLoadedPaths.insert(APath);
    }
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    AConfig = c;
    TIniFile ini(APath);
    const bool read = ini.Load();
    NoteLoadError(APath, ini.LoadError());
    if (!read || !ini.Exists())
        return;
    // Each key falls back to the default it replaces.
    for (const TKey& k : KKeys) {
        const std::string text = ini.ReadString(k.Section, k.Name, std::visit(TToText<TEncoderConfig>{c}, k.Member));
        std::visit(TFromText<TEncoderConfig>{c, text}, k.Member);
    }
    const char sep = UserDecimalSeparator();
    for (int i = 0; i < 10; ++i) {
        double v;
        if (ParseBandValue(ini.ReadString("EQ", BandKey(i), FormatBandValue(c.EQBands[i], sep)), sep, v))
            c.EQBands[i] = v;
    }
    for (size_t n = 0; n < c.ExtraServers.size(); ++n) {
        TServerRecord& server = c.ExtraServers[n];
        for (const TServerKey& k : KServerKeys) {
            const std::string text =
                ini.ReadString(ServerSection(n), k.Name, std::visit(TToText<TServerRecord>{server}, k.Member));
            std::visit(TFromText<TServerRecord>{server, text}, k.Member);
        }
    }
    AConfig = c;
}

void SaveEncoderConfigTo(const std::string& APath, const TEncoderConfig& AConfig)
{
    if (!SettingsLoadError(APath).empty())
        throw ESettingsWriteError(APath);
    std::vector<TIniFile::TEntry> entries;
    for (const TKey& k : KKeys)
        entries.push_back({k.Section, k.Name, std::visit(TToText<TEncoderConfig>{AConfig}, k.Member)});
    const char sep = UserDecimalSeparator();
    for (int i = 0; i < 10; ++i)
        entries.push_back({"EQ", BandKey(i), FormatBandValue(AConfig.EQBands[i], sep)});
    for (size_t n = 0; n < AConfig.ExtraServers.size(); ++n)
        for (const TServerKey& k : KServerKeys)
            entries.push_back(
                {ServerSection(n), k.Name, std::visit(TToText<TServerRecord>{AConfig.ExtraServers[n]}, k.Member)});
    // One write for the whole record: the window saves on every slider move.
    if (!TIniFile(APath).Write(entries))
        throw ESettingsWriteError(APath);
}

namespace {

// Why someone other than the file's owner could have written it; empty
// when no one could.
std::string WritableByOthers(const std::string& APath)
{
    struct stat file {};
    if (stat(APath.c_str(), &file) != 0)
        return {};
    if (file.st_uid != geteuid() && file.st_uid != 0)
        return "o arquivo pertence a outro usuario";
    if ((file.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "outros usuarios podem alterar o arquivo";
    std::string folder = std::filesystem::path(APath).parent_path().string();
    if (folder.empty())
        folder = ".";
    struct stat dir {};
    if (stat(folder.c_str(), &dir) == 0 &&
        ((dir.st_uid != geteuid() && dir.st_uid != 0) || (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0))
        return "outros usuarios podem alterar a pasta " + folder;
    return {};
}

bool HoldsPassword(const TEncoderConfig& AConfig)
{
    if (!AConfig.Password.empty() || !AConfig.FtpPassword.empty() || !AConfig.ControlToken.empty())
        return true;
    for (const TServerRecord& server : AConfig.ExtraServers)
        if (!server.Password.empty())
            return true;
    return false;
}

} // namespace

TEncoderConfig ObeyableSettings(const std::string& APath, const TEncoderConfig& AConfig, std::string& AWhy)
{
    AWhy.clear();
    TEncoderConfig config = AConfig;
    if (config.AlarmCommand.empty() && !config.ControlEnabled)
        return config;
    const std::string why = WritableByOthers(APath);
    if (why.empty())
        return config;
    config.AlarmCommand.clear();
    config.ControlEnabled = false;
    AWhy = "Arquivo de configuracao inseguro: " + why + " (" + APath +
           "). O comando de alarme e a interface de controle ficam desligados; corrija com chmod go-w.";
    return config;
}

std::string SettingsExposedWarning(const std::string& APath, const TEncoderConfig& AConfig)
{
    struct stat file {};
    if (!HoldsPassword(AConfig) || stat(APath.c_str(), &file) != 0 || (file.st_mode & S_IROTH) == 0)
        return {};
    return "O arquivo de configuracao " + APath + " guarda senhas e outros usuarios podem le-lo; chmod o-r corrige.";
}
