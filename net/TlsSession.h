#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

struct ssl_st;
struct ssl_ctx_st;

// A TLS client session over a connected socket that the caller keeps
// owning: its time-outs and its shutdown (which ends a blocked read or
// write) work as on a plain connection, and no write raises SIGPIPE.
// The peer is trusted when the system's CA store and the host name vouch
// for it, or when its certificate's SHA-256 fingerprint is the pinned one.
class TTlsSession {
public:
    TTlsSession() = default;
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    // The handshake on AFd for AHost (a name or an IPv4 address). False
    // with Error() set (in Portuguese) when it fails or the peer is not
    // trusted; nothing is sent on the connection before the peer is.
    bool Open(int AFd, const std::string& AHost, const std::string& APinnedFingerprint);
    // Like send/recv: bytes moved, or <= 0 when the connection failed,
    // timed out or was shut down.
    ssize_t Send(const char* AData, size_t ASize);
    ssize_t Receive(char* AData, size_t ASize);

    const std::string& Error() const { return FError; }
    // The certificate the server showed when it was refused as untrusted.
    const std::string& UntrustedFingerprint() const { return FUntrusted; }
    // Bytes handed to the kernel so far, TLS records included.
    uint64_t WireBytesSent() const { return FWire.Sent; }

    // What the session's socket layer works on.
    struct TWire {
        int Fd = -1;
        uint64_t Sent = 0;
    };

private:
    ssl_ctx_st* FContext = nullptr;
    ssl_st* FSsl = nullptr;
    TWire FWire;
    std::string FError;
    std::string FUntrusted;
};

// "AB:CD:..." — SHA-256 of the DER certificate, as openssl prints it.
// APem is one PEM certificate; empty when it is none.
std::string PemCertificateFingerprint(const std::string& APem);
// Equal fingerprints, letter case and colons ignored; an empty one matches none.
bool SameFingerprint(const std::string& A, const std::string& B);

// For a libcurl transfer (curl's own OpenSSL context): trust as Open does,
// the CA store and AHost, or APinnedFingerprint, which must outlive the
// transfer. Called from CURLOPT_SSL_CTX_FUNCTION with peer verification on
// and curl's own host check off (this one replaces it).
void ConfigureTlsTrust(ssl_ctx_st* AContext, const std::string& AHost, const std::string* APinnedFingerprint);
