#include "services/FtpSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <sys/stat.h>

#include "net/CurlGlobal.h"
#include "net/HttpGet.h"
#include "services/LocalFile.h"

namespace {

// Remembers the last FTP command sent, so a refused level can be named.
int TraceCommands(CURL*, curl_infotype AType, char* AData, size_t ASize, void* AUser)
{
    if (AType == CURLINFO_HEADER_OUT) {
        std::string line(AData, ASize);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        *static_cast<std::string*>(AUser) = line;
    }
    return 0;
}

std::string Escape(CURL* ACurl, const std::string& AText)
{
    char* escaped = curl_easy_escape(ACurl, AText.data(), static_cast<int>(AText.size()));
    std::string out = escaped ? escaped : "";
    curl_free(escaped);
    return out;
}

} // namespace

TFtpSession::TFtpSession(const std::string& AAgent)
{
    EnsureCurlInitialized();
    FCurl = curl_easy_init();
    if (!FCurl)
        return;
    curl_easy_setopt(FCurl, CURLOPT_USERAGENT, AAgent.c_str());
    curl_easy_setopt(FCurl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(FCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(FCurl, CURLOPT_ERRORBUFFER, FErrorBuffer);
    // Directory names go to the server as they are written, dots included.
    curl_easy_setopt(FCurl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(FCurl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
    curl_easy_setopt(FCurl, CURLOPT_CONNECTTIMEOUT_MS, kDefaultNetLimits.ConnectMs);
    curl_easy_setopt(FCurl, CURLOPT_SERVER_RESPONSE_TIMEOUT, kDefaultNetLimits.StallMs / 1000);
    curl_easy_setopt(FCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(FCurl, CURLOPT_LOW_SPEED_TIME, kDefaultNetLimits.StallMs / 1000);
    curl_easy_setopt(FCurl, CURLOPT_DEBUGFUNCTION, TraceCommands);
    curl_easy_setopt(FCurl, CURLOPT_DEBUGDATA, &FLastCommand);
    curl_easy_setopt(FCurl, CURLOPT_VERBOSE, 1L);
}

TFtpSession::~TFtpSession()
{
    if (FCurl)
        curl_easy_cleanup(FCurl);
}

bool TFtpSession::Perform(const std::string& AUrlPath)
{
    if (!FCurl) {
        FLastError = "Falha ao iniciar o cliente FTP.";
        return false;
    }
    FErrorBuffer[0] = 0;
    FLastCommand.clear();
    const std::string url = FBaseUrl + AUrlPath;
    curl_easy_setopt(FCurl, CURLOPT_URL, url.c_str());
    const CURLcode result = curl_easy_perform(FCurl);
    FLastResult = result;
    if (result == CURLE_OK)
        return true;
    FLastError = "Erro FTP " + std::to_string(static_cast<int>(result)) + ": " +
                 (FErrorBuffer[0] ? FErrorBuffer : curl_easy_strerror(result));
    return false;
}

bool TFtpSession::Connect(const std::string& AHost, uint16_t APort, const std::string& AUser,
                          const std::string& APassword, bool APassive)
{
    FBaseUrl = "ftp://" + AHost + (APort ? ":" + std::to_string(APort) : "") + "/";
    FDir.clear();
    if (!AUser.empty()) {
        curl_easy_setopt(FCurl, CURLOPT_USERNAME, AUser.c_str());
        curl_easy_setopt(FCurl, CURLOPT_PASSWORD, APassword.c_str());
    }
    curl_easy_setopt(FCurl, CURLOPT_FTPPORT, APassive ? static_cast<const char*>(nullptr) : "-");
    // Logging in is all this first request does.
    curl_easy_setopt(FCurl, CURLOPT_NOBODY, 1L);
    return Perform("");
}

std::string TFtpSession::DirUrlPath() const
{
    std::string path;
    for (const std::string& level : FDir)
        path += (level == "/" ? std::string("%2F") : Escape(FCurl, level)) + "/";
    return path;
}

bool TFtpSession::ChangeDirCreating(const std::vector<std::string>& ALevels, std::string& AFailedLevel)
{
    AFailedLevel.clear();
    FDir = ALevels;
    curl_easy_setopt(FCurl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(FCurl, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
    const bool ok = Perform(DirUrlPath());
    curl_easy_setopt(FCurl, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE));
    if (!ok && FLastResult == CURLE_REMOTE_ACCESS_DENIED && FLastCommand.rfind("CWD ", 0) == 0)
        AFailedLevel = FLastCommand.substr(4);
    return ok;
}

bool TFtpSession::PutFile(const std::string& ALocalFile, const std::string& ARemoteName)
{
    const TFileHandle file = OpenRegularFile(ALocalFile);
    if (!file) {
        FLastError = "Erro ao abrir " + ALocalFile + ": " +
                     (errno != 0 ? std::strerror(errno) : "não é um arquivo comum");
        return false;
    }
    struct stat st{};
    fstat(fileno(file.get()), &st);
    curl_easy_setopt(FCurl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(FCurl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(FCurl, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(FCurl, CURLOPT_READDATA, file.get());
    curl_easy_setopt(FCurl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
    const bool ok = Perform(DirUrlPath() + Escape(FCurl, ARemoteName));
    curl_easy_setopt(FCurl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(FCurl, CURLOPT_READDATA, nullptr);
    return ok;
}
