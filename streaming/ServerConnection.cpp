#include "streaming/ServerOutput.h"

#include <cerrno>
#include <climits>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/Text.h"
#include "platform/Tick.h"
#include "settings/CodecIds.h"
#include "streaming/ServerAnswer.h"
#include "streaming/WireText.h"

namespace {

constexpr int KSendTimeoutMs = 6000;
constexpr int KSendBufferBytes = 262144;
constexpr int KIcecastAnswerMs = 5000;
constexpr int KShoutcastAnswerMs = 3000;
constexpr size_t KAnswerChunk = 2048;
constexpr int KConnectSliceMs = 100;
// After an interim "100 Continue" the final answer may follow at once.
constexpr int KFinalAnswerMs = 500;
// The server's own source time-out: a queue that has not moved for this
// long is a dead path or a frozen server, not a slow moment.
constexpr uint64_t KStallMs = 10000;

void SetTimeout(int AFd, int AOption, int AMs)
{
    timeval tv{};
    tv.tv_sec = AMs / 1000;
    tv.tv_usec = (AMs % 1000) * 1000;
    setsockopt(AFd, SOL_SOCKET, AOption, &tv, sizeof(tv));
}

std::string Line(const std::string& AText)
{
    return AText + "\r\n";
}

} // namespace

// Sockets need no start-up here; the flag keeps the worker's bookkeeping.
bool TServerOutput::EnsureWinSock()
{
    FWSAStarted = true;
    return true;
}

bool TServerOutput::ConnectToServer(int32_t APort)
{
    CloseConnection();
    if (!EnsureWinSock())
        return false;
    const int32_t port = APort <= 0 ? FConfig.Port : APort;
    const std::string failed =
        "Nao conectou ao servidor de radio em " + FConfig.Host + ":" + std::to_string(port) + ".";

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string host = ToSystemCodePage(Trim(FConfig.Host));
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        if (found)
            freeaddrinfo(found);
        PostStatus("Host não encontrado: " + FConfig.Host, true);
        FLastRefusal = "(host nao encontrado)";
        return false;
    }
    sockaddr_in addr = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    FServerAddr = addr;
    FServerAddr.sin_port = htons(static_cast<uint16_t>(FConfig.Port > 0 && FConfig.Port <= 65535 ? FConfig.Port : 0));

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        PostStatus("Falha ao criar socket.", true);
        return false;
    }
    SetTimeout(fd, SO_RCVTIMEO, KSendTimeoutMs);
    SetTimeout(fd, SO_SNDTIMEO, KSendTimeoutMs);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &KSendBufferBytes, sizeof(KSendBufferBytes));
    // Published before connecting, so a stop can abort a connect that hangs;
    // a stop that came just before found nothing to shut down.
    FSocket.store(fd);
    FSendProgress.Reset();
    if (Terminated()) {
        CloseConnection();
        return false;
    }

    // A port beyond 16 bits would silently reach another one.
    bool connected = port > 0 && port <= 65535;
    int connectError = 0;
    if (connected) {
        addr.sin_port = htons(static_cast<uint16_t>(port));
        connectError = ConnectWatchingStop(fd, addr);
        connected = connectError == 0;
    }
    if (!connected) {
        FLastRefusal = connectError == ECONNREFUSED ? "(conexao recusada)" : "(servidor inacessivel)";
        // A connect cut short by the stop is no failure to tell about.
        if (!Terminated())
            PostStatus(failed, true);
        CloseConnection();
        return false;
    }
    return !FConfig.UseTls || StartTls(fd, host);
}

bool TServerOutput::StartTls(int AFd, const std::string& AHost)
{
    FTls = std::make_unique<TTlsSession>();
    if (FTls->Open(AFd, AHost, PinnedFingerprint()))
        return true;
    FLastRefusal = FTls->UntrustedFingerprint().empty() ? "(falha TLS)" : "(certificado nao confiavel)";
    if (!Terminated())
        PostStatus(FTls->Error(), true);
    CloseConnection();
    return false;
}

void TServerOutput::TrustCertificate(const std::string& AFingerprint)
{
    const std::lock_guard<std::mutex> guard(FPinLock);
    FPinned = AFingerprint;
}

std::string TServerOutput::PinnedFingerprint() const
{
    const std::lock_guard<std::mutex> guard(FPinLock);
    return FPinned;
}

TEncoderConfig TServerOutput::TitleConfig() const
{
    TEncoderConfig config = FConfig;
    config.TlsFingerprint = PinnedFingerprint();
    return config;
}

int TServerOutput::ConnectWatchingStop(int AFd, const sockaddr_in& AAddr)
{
    // Without blocking, in short waits: a stop that comes just before the
    // connect starts would find nothing to shut down and wait it out.
    const int flags = fcntl(AFd, F_GETFL);
    fcntl(AFd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (connect(AFd, reinterpret_cast<const sockaddr*>(&AAddr), sizeof(AAddr)) != 0) {
        error = errno;
        const uint64_t until = GetTickCount64() + KSendTimeoutMs;
        while (error == EINPROGRESS || error == EINTR) {
            if (Terminated() || GetTickCount64() >= until) {
                error = ETIMEDOUT;
                break;
            }
            pollfd p{AFd, POLLOUT, 0};
            if (poll(&p, 1, KConnectSliceMs) > 0) {
                socklen_t len = sizeof(error);
                getsockopt(AFd, SOL_SOCKET, SO_ERROR, &error, &len);
            }
        }
    }
    fcntl(AFd, F_SETFL, flags);
    return error;
}

bool TServerOutput::SendBytes(const std::string& ABytes)
{
    // Only this thread closes the handle, so the number stays ours for the
    // whole call; a stop shuts it down, which ends a blocked send.
    const int64_t fd = FSocket.load();
    if (fd == -1)
        return false;
    size_t done = 0;
    while (done < ABytes.size()) {
        if (Terminated())
            return false;
        // The kernel's queue holds TLS records: progress counts those.
        const uint64_t wireBefore = FTls ? FTls->WireBytesSent() : 0;
        const ssize_t n = FTls ? FTls->Send(ABytes.data() + done, ABytes.size() - done)
                               : send(static_cast<int>(fd), ABytes.data() + done, ABytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR && !FTls)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
        FBytesSent.fetch_add(static_cast<uint64_t>(n));
        FSendProgress.Sent(FTls ? FTls->WireBytesSent() - wireBefore : static_cast<uint64_t>(n), GetTickCount64());
    }
    return true;
}

bool TServerOutput::ConnectionStalled()
{
    const int64_t fd = FSocket.load();
    int queued = 0;
    if (fd == -1 || ioctl(static_cast<int>(fd), SIOCOUTQ, &queued) != 0 || queued < 0)
        return false;
    const uint64_t now = GetTickCount64();
    // Both run: the probe must see its answers even while the queue moves.
    const bool frozen = FProbe.Stalled(now, KStallMs);
    return FSendProgress.Stalled(static_cast<uint64_t>(queued), now, KStallMs) || frozen;
}

std::string TServerOutput::ReadServerAnswer(int ATimeoutMs, bool* AClosed)
{
    if (AClosed)
        *AClosed = false;
    const int64_t fd = FSocket.load();
    if (fd == -1 || Terminated())
        return {};
    // Zero would mean "wait forever" to the socket layer.
    SetTimeout(static_cast<int>(fd), SO_RCVTIMEO, ATimeoutMs > 0 ? ATimeoutMs : 1);
    std::string answer;
    char buf[KAnswerChunk];
    for (;;) {
        const ssize_t n = FTls ? FTls->Receive(buf, sizeof(buf)) : recv(static_cast<int>(fd), buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR && !Terminated() && !FTls)
            continue;
        if (n > 0)
            answer.append(buf, static_cast<size_t>(n));
        // A reset is the server ending it too, only less politely.
        if (AClosed && (n == 0 || (n < 0 && errno == ECONNRESET)))
            *AClosed = true;
        if (n != static_cast<ssize_t>(KAnswerChunk) || Terminated())
            break;
    }
    return answer;
}

void TServerOutput::CloseConnection()
{
    FProbe.Close();
    std::lock_guard<std::mutex> lock(FSocketLock);
    FTls.reset();
    const int64_t fd = FSocket.exchange(-1);
    if (fd == -1)
        return;
    shutdown(static_cast<int>(fd), SHUT_RDWR);
    close(static_cast<int>(fd));
}

void TServerOutput::ShutdownConnection()
{
    // Under the lock the handle cannot be closed and its number reused by
    // someone else between reading it and shutting it down.
    std::lock_guard<std::mutex> lock(FSocketLock);
    const int64_t fd = FSocket.load();
    if (fd != -1)
        shutdown(static_cast<int>(fd), SHUT_RDWR);
}

bool TServerOutput::IcecastHandshake(const std::string& AContentType)
{
    const std::string mount = NormalizeMount(FConfig.Mount);
    const std::string host = ToSystemCodePage(Trim(FConfig.Host));
    const std::string user = FConfig.UserName.empty() ? "source" : HeaderValueUtf8(FConfig.UserName);
    const std::string password = ToSystemCodePage(FConfig.Password);
    const std::string name = HeaderValueUtf8(FConfig.StreamName);
    const std::string genre = HeaderValueUtf8(FConfig.Genre);
    const std::string credentials = Base64Encode(user + ":" + password);
    const std::string bitrate = std::to_string(FConfig.Bitrate);
    // Shared by both requests, after their first line(s).
    const std::string common =
        Line("Authorization: Basic " + credentials) + Line("User-Agent: TAVIX-Encoder-Nativo/2.0") +
        Line("Content-Type: " + AContentType) + Line("ice-name: " + name) +
        Line("ice-description: " + name) + Line("ice-genre: " + genre) + Line("ice-bitrate: " + bitrate) +
        Line("ice-public: 0") +
        Line("ice-audio-info: ice-bitrate=" + bitrate + ";ice-channels=" + std::to_string(FConfig.Channels) +
             ";ice-samplerate=" + std::to_string(FConfig.SampleRate));

    for (const std::string method : {"PUT", "SOURCE"}) {
        if (!ConnectToServer(FConfig.Port))
            return false;
        const std::string request =
            method == "PUT"
                ? Line("PUT " + mount + " HTTP/1.1") + Line("Host: " + host + ":" + std::to_string(FConfig.Port)) +
                      common + Line("Expect: 100-continue") + Line("")
                : Line("SOURCE " + mount + " HTTP/1.0") + common + Line("");
        if (!SendBytes(request)) {
            FLastRefusal = "(servidor fechou a conexao)";
            CloseConnection();
            continue;
        }
        std::string answer = ReadServerAnswer(KIcecastAnswerMs);
        // An interim answer alone says nothing of the login: a proxy may
        // send it before the server has even checked the password.
        if (const int code = AnswerStatusCode(answer); code >= 100 && code < 200)
            answer += ReadServerAnswer(KFinalAnswerMs);
        if (IsIcecastSourceAccepted(answer)) {
            PostStatus("Conectado ao servidor de rádio Icecast (" + method + ").", false);
            return true;
        }
        FLastRefusal = LoginRefusalReason(answer, false);
        CloseConnection();
    }
    if (!Terminated())
        PostStatus("Servidor recusou a conexão source Icecast.", true);
    return false;
}

bool TServerOutput::ShoutcastHandshake(const std::string& AContentType)
{
    const std::string type = AsciiLower(AContentType);
    if (type.find("ogg") != std::string::npos || type.find("flac") != std::string::npos) {
        PostStatus("Shoutcast comum deve usar MP3 ou AAC+.", true);
        return false;
    }
    const std::string password = ToSystemCodePage(FConfig.Password);
    const std::string bitrate = std::to_string(FConfig.Bitrate);
    const std::string rate = std::to_string(FConfig.SampleRate);
    const std::string channels = std::to_string(FConfig.Channels);
    const std::string headers =
        Line("icy-name:" + HeaderValueUtf8(FConfig.StreamName)) + Line("icy-genre:" + HeaderValueUtf8(FConfig.Genre)) +
        Line("icy-url:" + HeaderValueUtf8(FConfig.Url)) + Line("icy-pub:0") + Line("icy-br:" + bitrate) +
        Line("icy-sr:" + rate) + Line("icy-channels:" + channels) +
        Line("icy-audio-info:ice-bitrate=" + bitrate + ";ice-channels=" + channels + ";ice-samplerate=" + rate) +
        Line("icy-irc:N/A") + Line("icy-icq:N/A") + Line("icy-aim:N/A") + Line("content-type:" + AContentType) +
        Line("");

    // The source port is the one above the configured port; the configured
    // one is the fallback. Computed wide so the largest port cannot overflow.
    // A port that said no is the reason told, not the fallback's silence.
    std::string refused;
    for (const int64_t p : {int64_t{FConfig.Port} + 1, int64_t{FConfig.Port}}) {
        if (p <= 0 || p > INT32_MAX || !ConnectToServer(static_cast<int32_t>(p)))
            continue;
        if (!SendBytes(Line(password))) {
            FLastRefusal = "(servidor fechou a conexao)";
            CloseConnection();
            continue;
        }
        bool closed = false;
        const std::string answer = ReadServerAnswer(KShoutcastAnswerMs, &closed);
        const bool accepted = IsShoutcastSourceAccepted(answer);
        if (!accepted || !SendBytes(headers)) {
            // A SHOUTcast server may close on a wrong password without a word.
            FLastRefusal = accepted                           ? "(servidor fechou a conexao)"
                           : closed && Trim(answer).empty() ? "(o servidor nao respondeu a senha; confira a senha)"
                                                            : LoginRefusalReason(answer, false);
            if (refused.empty() && !accepted && (closed || !Trim(answer).empty()))
                refused = FLastRefusal;
            CloseConnection();
            continue;
        }
        PostStatus("Conectado ao servidor de rádio SHOUTcast na porta " + std::to_string(p) + ".", false);
        return true;
    }
    if (!refused.empty())
        FLastRefusal = refused;
    if (!Terminated())
        PostStatus("Servidor recusou a conexão source SHOUTcast.", true);
    return false;
}

bool TServerOutput::ConnectAndHandshake(const std::string& AContentType)
{
    return IsShoutcastServer(FConfig.ServerType) ? ShoutcastHandshake(AContentType)
                                                 : IcecastHandshake(AContentType);
}
