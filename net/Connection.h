#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>

#include "net/TlsSession.h"

// An address a connection reached, kept to reach the same server again.
struct TPeerAddress {
    sockaddr_storage Address{};
    socklen_t Length = 0;
    // The same host at APort.
    TPeerAddress AtPort(int APort) const;
};

enum class TConnectResult { Connected, HostNotFound, Refused, Unreachable, SocketFailed, Stopped };

// One TCP connection to a server, for a source login or a title update:
// the host resolved in any family (a station's host may have an IPv6
// address alone) and each address tried in turn, a connect that a stop
// ends within a tenth of a second, TLS with pinning, sends that never raise
// SIGPIPE and reads with a deadline. One thread uses it; any thread may
// Shutdown it to end a blocked call at once.
class TConnection {
public:
    TConnection() = default;
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Closes what was open, then connects to AHost (UTF-8) at APort; each
    // address gets ATimeoutMs, and AStopped, asked often, gives up at once.
    // ASendBufferBytes, when positive, sizes the kernel's send queue.
    TConnectResult Open(const std::string& AHost, int APort, int ATimeoutMs, const std::function<bool()>& AStopped,
                        int ASendBufferBytes = 0);
    // The TLS handshake for AHost; false with the session's Error() and
    // UntrustedFingerprint() kept in Tls().
    bool StartTls(const std::string& AHost, const std::string& APinnedFingerprint);
    // The TLS session over this connection, if one was started (also after
    // it failed, to tell why, until the next Open).
    const TTlsSession* Tls() const { return FTls.get(); }

    // Like send and recv; through TLS once started.
    ssize_t Send(const char* AData, size_t ASize);
    ssize_t Receive(char* AData, size_t ASize);
    void SetTimeouts(int ASendMs, int AReceiveMs);
    // Bytes handed to the kernel, TLS records included.
    uint64_t WireBytesSent() const;
    // Bytes the kernel still holds unsent, or -1 when it cannot tell.
    int QueuedBytes() const;

    bool IsOpen() const { return FFd.load() != -1; }
    const TPeerAddress& Peer() const { return FPeer; }
    // Any thread: wakes a blocked send, read or connect without closing, so
    // the number is never reused under the thread that works on it.
    void Shutdown();
    // The using thread only.
    void Close();

private:
    int ConnectWatchingStop(int AFd, const sockaddr* AAddr, socklen_t ALength, int ATimeoutMs,
                            const std::function<bool()>& AStopped);

    std::atomic<int> FFd{-1};
    // Held only to shut down or close the handle, never across a call.
    std::mutex FLock;
    std::unique_ptr<TTlsSession> FTls;
    TPeerAddress FPeer;
};
