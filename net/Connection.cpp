#include "net/Connection.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/Text.h"
#include "platform/Tick.h"

namespace {

constexpr int KConnectSliceMs = 100;

void SetTimeout(int AFd, int AOption, int AMs)
{
    // Zero would mean "wait forever" to the socket layer.
    const int ms = AMs > 0 ? AMs : 1;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    setsockopt(AFd, SOL_SOCKET, AOption, &tv, sizeof(tv));
}

struct TAddresses {
    addrinfo* List = nullptr;
    ~TAddresses()
    {
        if (List)
            freeaddrinfo(List);
    }
};

} // namespace

TPeerAddress TPeerAddress::AtPort(int APort) const
{
    TPeerAddress out = *this;
    const uint16_t port = htons(static_cast<uint16_t>(APort > 0 && APort <= 65535 ? APort : 0));
    if (out.Address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&out.Address)->sin6_port = port;
    else if (out.Address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&out.Address)->sin_port = port;
    return out;
}

TConnection::~TConnection()
{
    Close();
}

TConnectResult TConnection::Open(const std::string& AHost, int APort, int ATimeoutMs,
                                 const std::function<bool()>& AStopped, int ASendBufferBytes)
{
    Close();
    FTls.reset();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    TAddresses found;
    const std::string host = Utf8ToWindows1252(Trim(AHost));
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found.List) != 0 || !found.List)
        return TConnectResult::HostNotFound;
    // A port beyond 16 bits would silently reach another one.
    if (APort <= 0 || APort > 65535)
        return TConnectResult::Unreachable;
    TConnectResult result = TConnectResult::Unreachable;
    for (const addrinfo* a = found.List; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            result = TConnectResult::SocketFailed;
            continue;
        }
        if (ASendBufferBytes > 0)
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &ASendBufferBytes, sizeof(ASendBufferBytes));
        // Published before connecting, so a stop can end a connect that
        // hangs; a stop that came just before found nothing to shut down.
        FFd.store(fd);
        if (AStopped && AStopped()) {
            Close();
            return TConnectResult::Stopped;
        }
        TPeerAddress peer;
        std::memcpy(&peer.Address, a->ai_addr, a->ai_addrlen);
        peer.Length = a->ai_addrlen;
        peer = peer.AtPort(APort);
        const int error =
            ConnectWatchingStop(fd, reinterpret_cast<const sockaddr*>(&peer.Address), peer.Length, ATimeoutMs, AStopped);
        if (error == 0) {
            FPeer = peer;
            return TConnectResult::Connected;
        }
        Close();
        if (AStopped && AStopped())
            return TConnectResult::Stopped;
        // Refused by one address is the clearer word than silence from another.
        if (error == ECONNREFUSED || result != TConnectResult::Refused)
            result = error == ECONNREFUSED ? TConnectResult::Refused : TConnectResult::Unreachable;
    }
    return result;
}

int TConnection::ConnectWatchingStop(int AFd, const sockaddr* AAddr, socklen_t ALength, int ATimeoutMs,
                                     const std::function<bool()>& AStopped)
{
    // Without blocking, in short waits: a stop that comes just before the
    // connect starts would find nothing to shut down and wait it out.
    const int flags = fcntl(AFd, F_GETFL);
    fcntl(AFd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (connect(AFd, AAddr, ALength) != 0) {
        error = errno;
        const uint64_t until = GetTickCount64() + static_cast<uint64_t>(ATimeoutMs);
        while (error == EINPROGRESS || error == EINTR) {
            if ((AStopped && AStopped()) || GetTickCount64() >= until) {
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

bool TConnection::StartTls(const std::string& AHost, const std::string& APinnedFingerprint)
{
    FTls = std::make_unique<TTlsSession>();
    return FTls->Open(FFd.load(), Utf8ToWindows1252(Trim(AHost)), APinnedFingerprint);
}

ssize_t TConnection::Send(const char* AData, size_t ASize)
{
    const int fd = FFd.load();
    if (fd == -1)
        return -1;
    if (FTls)
        return FTls->Send(AData, ASize);
    for (;;) {
        const ssize_t n = send(fd, AData, ASize, MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

ssize_t TConnection::Receive(char* AData, size_t ASize)
{
    const int fd = FFd.load();
    if (fd == -1)
        return -1;
    return FTls ? FTls->Receive(AData, ASize) : recv(fd, AData, ASize, 0);
}

void TConnection::SetTimeouts(int ASendMs, int AReceiveMs)
{
    const int fd = FFd.load();
    if (fd == -1)
        return;
    if (ASendMs >= 0)
        SetTimeout(fd, SO_SNDTIMEO, ASendMs);
    if (AReceiveMs >= 0)
        SetTimeout(fd, SO_RCVTIMEO, AReceiveMs);
}

uint64_t TConnection::WireBytesSent() const
{
    return FTls ? FTls->WireBytesSent() : 0;
}

int TConnection::QueuedBytes() const
{
    const int fd = FFd.load();
    int queued = 0;
    if (fd == -1 || ioctl(fd, SIOCOUTQ, &queued) != 0 || queued < 0)
        return -1;
    return queued;
}

void TConnection::Shutdown()
{
    // Under the lock the handle cannot be closed and its number reused by
    // someone else between reading it and shutting it down.
    const std::lock_guard<std::mutex> lock(FLock);
    const int fd = FFd.load();
    if (fd != -1)
        shutdown(fd, SHUT_RDWR);
}

void TConnection::Close()
{
    const std::lock_guard<std::mutex> lock(FLock);
    const int fd = FFd.exchange(-1);
    if (fd == -1)
        return;
    shutdown(fd, SHUT_RDWR);
    close(fd);
}
