#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

// A real icecast2 on loopback, configured in a temporary folder: a normal
// listen socket on Port() and a SHOUTcast-compatible source socket on
// Port() + 1 feeding mount "/stream" (titles kept as UTF-8). With ATls the
// normal socket speaks only TLS, with a self-signed certificate for
// 127.0.0.1 made here. With AIpv6 it listens on ::1 alone.
class TIcecastServer {
public:
    // Starts it; throws when it does not come up.
    explicit TIcecastServer(bool ATls = false, bool AIpv6 = false);
    ~TIcecastServer();

    int Port() const { return FPort; }
    int ShoutcastPort() const { return FPort + 1; }
    std::string SourcePassword() const { return "hackme"; }
    std::string AdminUser() const { return "admin"; }
    std::string AdminPassword() const { return "adminpass"; }
    std::string Host() const { return FIpv6 ? "::1" : "127.0.0.1"; }
    std::string BaseUrl() const
    {
        return (FTls ? "https://" : "http://") + (FIpv6 ? std::string("[::1]") : Host()) + ":" + std::to_string(FPort);
    }
    // The server's certificate alone (PEM), to trust it as a CA would.
    std::string CertificateFile() const { return FDir.File("cert.pem"); }
    // curl options that trust the server's certificate (empty without TLS).
    std::string CurlTrust() const;

    void Stop();
    void Start(); // again, on the same ports
    // SIGSTOP and SIGCONT: a server that hangs with its sockets open.
    void Freeze();
    void Thaw();
    bool Running() const { return FProcess && FProcess->Running(); }
    // The body of /status-json.xsl (empty when the server does not answer).
    std::string StatusJson() const;
    std::string ErrorLog() const;
    // One line per request the server has answered.
    std::string AccessLog() const;

private:
    TTempDir FDir;
    int FPort = 0;
    bool FTls = false;
    bool FIpv6 = false;
    std::unique_ptr<TChildProcess> FProcess;
};
