#include "services/MetadataUpdateThread.h"

#include <atomic>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/Text.h"
#include "settings/CodecIds.h"
#include "streaming/WireText.h"

namespace {

constexpr int KAdminTimeoutMs = 1200;
constexpr const char* KUserAgent = "User-Agent: TAVIX-Encoder-Nativo/2.1\r\n";
constexpr const char* KTextHeaders =
    "Content-Type: text/plain; charset=UTF-8\r\n"
    "Accept-Charset: UTF-8\r\n"
    "Connection: close\r\n"
    "\r\n";

// Trivially destructible on purpose: workers may still count down after
// the program's static objects are gone.
std::atomic<int> GRunning{0};

void SetTimeout(int AFd, int AOption, int AMs)
{
    timeval tv{};
    tv.tv_sec = AMs / 1000;
    tv.tv_usec = (AMs % 1000) * 1000;
    setsockopt(AFd, SOL_SOCKET, AOption, &tv, sizeof(tv));
}

// The judgement of an admin reply: silence, a 200 status or any "OK" —
// except icecast's "200 OK" that says the mount will not take the title
// (an Ogg mount before its headers, any Ogg FLAC mount).
bool IsMetadataReplyAccepted(const std::string& AReply)
{
    if (AsciiLower(AReply).find("will not accept") != std::string::npos)
        return false;
    return AReply.empty() || AReply.find(" 200 ") != std::string::npos ||
           AsciiUpper(AReply).find("OK") != std::string::npos;
}

} // namespace

TMetadataUpdateThread::TMetadataUpdateThread(const TEncoderConfig& AConfig, const std::string& ASong)
    : TThread(true), FConfig(AConfig), FSong(Trim(ASong))
{
    FreeOnTerminate = true;
    ++GRunning;
}

TMetadataUpdateThread::~TMetadataUpdateThread()
{
    CloseAdminConnection();
    --GRunning;
}

void TMetadataUpdateThread::Execute()
{
    // A port beyond 16 bits would silently reach another one.
    const bool portValid = FConfig.Port > 0 && FConfig.Port <= 65535;
    if (FSong.empty() || Trim(FConfig.Host).empty() || !portValid || FConfig.Password.empty())
        return;
    if (IsShoutcastServer(FConfig.ServerType)) {
        UpdateShoutcastMetadata();
        return;
    }
    std::string user = Trim(FConfig.UserName);
    if (user.empty())
        user = "source";
    if (!UpdateIcecastMetadata(user) && !SameTextAscii(user, "admin"))
        UpdateIcecastMetadata("admin");
}

bool TMetadataUpdateThread::OpenAdminConnection()
{
    CloseAdminConnection();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(ToSystemCodePage(Trim(FConfig.Host)).c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    sockaddr_in addr = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    addr.sin_port = htons(static_cast<uint16_t>(FConfig.Port));

    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (FSocket < 0)
        return false;
    SetTimeout(FSocket, SO_RCVTIMEO, KAdminTimeoutMs);
    SetTimeout(FSocket, SO_SNDTIMEO, KAdminTimeoutMs);
    if (connect(FSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        CloseAdminConnection();
        return false;
    }
    if (FConfig.UseTls) {
        FTls = std::make_unique<TTlsSession>();
        if (!FTls->Open(FSocket, ToSystemCodePage(Trim(FConfig.Host)), FConfig.TlsFingerprint)) {
            CloseAdminConnection();
            return false;
        }
    }
    return true;
}

void TMetadataUpdateThread::CloseAdminConnection()
{
    FTls.reset();
    if (FSocket < 0)
        return;
    close(FSocket);
    FSocket = -1;
}

bool TMetadataUpdateThread::SendRequest(const std::string& ARequest)
{
    size_t sent = 0;
    while (sent < ARequest.size()) {
        const ssize_t n = FTls ? FTls->Send(ARequest.data() + sent, ARequest.size() - sent)
                               : send(FSocket, ARequest.data() + sent, ARequest.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string TMetadataUpdateThread::ReadReply()
{
    char buf[1024];
    const ssize_t n = FTls ? FTls->Receive(buf, sizeof(buf)) : recv(FSocket, buf, sizeof(buf), 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string TMetadataUpdateThread::HostLine() const
{
    return "Host: " + ToSystemCodePage(Trim(FConfig.Host)) + ":" + std::to_string(FConfig.Port) + "\r\n";
}

bool TMetadataUpdateThread::Exchange(const std::string& ARequest)
{
    bool accepted = false;
    if (SendRequest(ARequest))
        accepted = IsMetadataReplyAccepted(ReadReply());
    CloseAdminConnection();
    return accepted;
}

bool TMetadataUpdateThread::UpdateIcecastMetadata(const std::string& AUser)
{
    if (!OpenAdminConnection())
        return false;
    return Exchange("GET /admin/metadata?mount=" + UrlEncodeUtf8(NormalizeMount(FConfig.Mount)) +
                    "&mode=updinfo&charset=UTF-8&song=" + UrlEncodeUtf8(CleanSongTitle(FSong)) +
                    " HTTP/1.0\r\n" + HostLine() + "Authorization: Basic " +
                    Base64Encode(ToSystemCodePage(AUser) + ":" + ToSystemCodePage(FConfig.Password)) +
                    "\r\n" + KUserAgent + KTextHeaders);
}

bool TMetadataUpdateThread::UpdateShoutcastMetadata()
{
    if (!OpenAdminConnection())
        return false;
    return Exchange("GET /admin.cgi?pass=" + UrlEncodeUtf8(FConfig.Password) +
                    "&mode=updinfo&charset=UTF-8&song=" + UrlEncodeUtf8(CleanSongTitle(FSong)) +
                    "&url=" + UrlEncodeUtf8(Trim(FConfig.Url)) + " HTTP/1.0\r\n" + HostLine() +
                    KUserAgent + KTextHeaders);
}

void PushTitle(const TEncoderConfig& AConfig, const std::string& ATitle)
{
    if (Trim(ATitle).empty())
        return;
    (new TMetadataUpdateThread(AConfig, ATitle))->Start();
}

int RunningMetadataUpdates()
{
    return GRunning.load();
}
