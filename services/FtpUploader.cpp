#include "services/FtpUploader.h"

#include "net/HttpGet.h"
#include "platform/Text.h"
#include "services/FtpSession.h"
#include "services/LocalFile.h"

namespace {

const char* const kAgent = "TAVIX Encoder FTP";

} // namespace

std::string NormalizeRemoteDir(const std::string& ARemoteDir)
{
    std::string dir = Trim(ARemoteDir);
    for (char& c : dir)
        if (c == '\\')
            c = '/';
    return dir.empty() ? "/" : dir;
}

std::vector<std::string> RemoteDirLevels(const std::string& ARemoteDir)
{
    std::string rest = NormalizeRemoteDir(ARemoteDir);
    std::vector<std::string> levels;
    if (rest[0] == '/') {
        levels.push_back("/");
        rest.erase(0, 1);
    }
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string level = Trim(rest.substr(start, end - start));
        if (!level.empty())
            levels.push_back(level);
        start = end + 1;
    }
    return levels;
}

void EnsureRemoteDir(TFtpSession& AFtp, const std::string& ARemoteDir)
{
    std::string failedLevel;
    if (AFtp.ChangeDirCreating(RemoteDirLevels(ARemoteDir), failedLevel))
        return;
    if (!failedLevel.empty())
        throw EFtpUploadError("Não foi possível acessar o diretório FTP: " + failedLevel);
    throw EFtpUploadError(AFtp.LastError());
}

std::string RemoteFileName(const std::string& ARemoteFile, const std::string& ALocalFile)
{
    std::string name = Trim(ARemoteFile);
    if (name.empty())
        name = ALocalFile.substr(ALocalFile.find_last_of('/') + 1);
    return name.empty() ? "noar.txt" : name;
}

void FetchCronUrl(const std::string& ACronUrl)
{
    const std::string url = Trim(ACronUrl);
    const std::string lower = AsciiLower(url);
    if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0)
        return;
    HttpGet(url, kAgent, kDefaultNetLimits, [](std::string_view) { return true; });
}

TTavixFtpUploadThread::TTavixFtpUploadThread(const TEncoderConfig& AConfig, const std::string& ALocalFile)
    : TThread(true), FConfig(AConfig), FLocalFile(ALocalFile)
{
    FreeOnTerminate = true;
}

TTavixFtpUploadThread::~TTavixFtpUploadThread()
{
    Shutdown();
}

void TTavixFtpUploadThread::Execute()
{
    NameThisThread("ftp");
    if (!FConfig.FtpEnabled || Trim(FLocalFile).empty() || !FileExists(FLocalFile) ||
        Trim(FConfig.FtpHost).empty())
        return;
    // Cut to 16 bits, a port from a hand-edited file would reach another one.
    if (FConfig.FtpPort < 1 || FConfig.FtpPort > 65535) {
        FError = "Porta FTP inválida: " + std::to_string(FConfig.FtpPort) + " (use de 1 a 65535).";
        return;
    }
    try {
        TFtpSession ftp(kAgent);
        if (!ftp.Connect(FConfig.FtpHost, static_cast<uint16_t>(FConfig.FtpPort), FConfig.FtpUser,
                         FConfig.FtpPassword, FConfig.FtpPassive))
            throw EFtpUploadError(ftp.LastError());
        EnsureRemoteDir(ftp, FConfig.FtpRemoteDir);
        if (!ftp.PutFile(FLocalFile, RemoteFileName(FConfig.FtpRemoteFile, FLocalFile)))
            throw EFtpUploadError(ftp.LastError());
        FetchCronUrl(FConfig.FtpCronUrl);
    } catch (const std::exception& e) {
        FError = e.what();
    }
}
