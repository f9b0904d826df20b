#include "net/TlsSession.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

namespace {

const char* const KUntrustedPrefix = "Certificado do servidor não é confiável: ";
const char* const KFingerprintLabel = "Impressão digital SHA-256: ";

// OpenSSL's own socket layer writes with write(), which raises SIGPIPE on
// a closed connection; this one sends with MSG_NOSIGNAL. A time-out is a
// retry to OpenSSL, so the session survives a read that found nothing yet.
int WireWrite(BIO* ABio, const char* AData, int ASize)
{
    auto* wire = static_cast<TTlsSession::TWire*>(BIO_get_data(ABio));
    BIO_clear_retry_flags(ABio);
    ssize_t n;
    do
        n = send(wire->Fd, AData, static_cast<size_t>(ASize), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n > 0)
        wire->Sent += static_cast<uint64_t>(n);
    return static_cast<int>(n);
}

int WireRead(BIO* ABio, char* AData, int ASize)
{
    auto* wire = static_cast<TTlsSession::TWire*>(BIO_get_data(ABio));
    BIO_clear_retry_flags(ABio);
    ssize_t n;
    do
        n = recv(wire->Fd, AData, static_cast<size_t>(ASize), 0);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(ABio);
    return static_cast<int>(n);
}

long WireControl(BIO*, int ACommand, long, void*)
{
    return ACommand == BIO_CTRL_FLUSH ? 1 : 0;
}

int WireCreate(BIO* ABio)
{
    BIO_set_init(ABio, 1);
    return 1;
}

BIO_METHOD* WireMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tavix socket");
        BIO_meth_set_write(m, WireWrite);
        BIO_meth_set_read(m, WireRead);
        BIO_meth_set_ctrl(m, WireControl);
        BIO_meth_set_create(m, WireCreate);
        return m;
    }();
    return method;
}

std::string CertificateFingerprint(X509* ACert)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ACert || X509_digest(ACert, EVP_sha256(), digest, &size) != 1)
        return {};
    std::string out;
    char hex[4];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof(hex), i ? ":%02X" : "%02X", digest[i]);
        out += hex;
    }
    return out;
}

bool IsIpAddress(const std::string& AHost)
{
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, AHost.c_str(), &v4) == 1 || inet_pton(AF_INET6, AHost.c_str(), &v6) == 1;
}

// Certificates are checked against the system's store (SSL_CERT_FILE and
// SSL_CERT_DIR are honoured) and the name the operator typed.
void TrustSystemAndHost(SSL_CTX* AContext, const std::string& AHost)
{
    SSL_CTX_set_default_verify_paths(AContext);
    SSL_CTX_set_min_proto_version(AContext, TLS1_2_VERSION);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(AContext);
    if (IsIpAddress(AHost)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, AHost.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, AHost.c_str(), 0);
    }
}

int PinnedIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// A chain the store does not vouch for still passes when the server's own
// certificate is the pinned one.
int VerifyOrPinned(int APreverified, X509_STORE_CTX* AStore)
{
    if (APreverified)
        return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(AStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const auto* pinned =
        ssl ? static_cast<const std::string*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), PinnedIndex())) : nullptr;
    if (!pinned || !SameFingerprint(CertificateFingerprint(X509_STORE_CTX_get0_cert(AStore)), *pinned))
        return 0;
    X509_STORE_CTX_set_error(AStore, X509_V_OK);
    return 1;
}

std::string OpenSslReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "conexao encerrada ou sem resposta";
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : "erro " + std::to_string(code);
}

std::string Canonical(const std::string& AFingerprint)
{
    std::string out;
    for (const char c : AFingerprint)
        if (c != ':')
            out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return out;
}

} // namespace

TTlsSession::~TTlsSession()
{
    // No close_notify: the owner shuts the socket down, and a goodbye
    // could block on a server that stopped reading.
    SSL_free(FSsl);
    SSL_CTX_free(FContext);
}

bool TTlsSession::Open(int AFd, const std::string& AHost, const std::string& APinnedFingerprint)
{
    ERR_clear_error();
    FWire.Fd = AFd;
    FContext = SSL_CTX_new(TLS_client_method());
    if (FContext)
        TrustSystemAndHost(FContext, AHost);
    FSsl = FContext ? SSL_new(FContext) : nullptr;
    BIO* bio = FSsl ? BIO_new(WireMethod()) : nullptr;
    if (!bio) {
        FError = "Falha ao iniciar TLS: " + OpenSslReason() + ".";
        return false;
    }
    BIO_set_data(bio, &FWire);
    SSL_set_bio(FSsl, bio, bio);
    // The verdict is taken after the handshake, with the certificate at
    // hand to show; no byte of ours goes out before it.
    SSL_set_verify(FSsl, SSL_VERIFY_NONE, nullptr);
    if (!IsIpAddress(AHost))
        SSL_set_tlsext_host_name(FSsl, AHost.c_str());
    if (SSL_connect(FSsl) != 1) {
        FError = "Falha na conexão TLS com o servidor: " + OpenSslReason() + ".";
        return false;
    }
    X509* cert = SSL_get1_peer_certificate(FSsl);
    const std::string seen = CertificateFingerprint(cert);
    X509_free(cert);
    const long verdict = SSL_get_verify_result(FSsl);
    if (verdict == X509_V_OK && !seen.empty())
        return true;
    if (SameFingerprint(seen, APinnedFingerprint))
        return true;
    FUntrusted = seen;
    FError = std::string(KUntrustedPrefix) + X509_verify_cert_error_string(verdict) + ". " + KFingerprintLabel +
             seen + ".";
    return false;
}

ssize_t TTlsSession::Send(const char* AData, size_t ASize)
{
    ERR_clear_error();
    return FSsl ? SSL_write(FSsl, AData, static_cast<int>(ASize)) : -1;
}

ssize_t TTlsSession::Receive(char* AData, size_t ASize)
{
    ERR_clear_error();
    return FSsl ? SSL_read(FSsl, AData, static_cast<int>(ASize)) : -1;
}

std::string PemCertificateFingerprint(const std::string& APem)
{
    BIO* bio = BIO_new_mem_buf(APem.data(), static_cast<int>(APem.size()));
    X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    const std::string fingerprint = CertificateFingerprint(cert);
    X509_free(cert);
    BIO_free(bio);
    return fingerprint;
}

bool SameFingerprint(const std::string& A, const std::string& B)
{
    const std::string a = Canonical(A);
    return !a.empty() && a == Canonical(B);
}

void ConfigureTlsTrust(ssl_ctx_st* AContext, const std::string& AHost, const std::string* APinnedFingerprint)
{
    TrustSystemAndHost(AContext, AHost);
    SSL_CTX_set_ex_data(AContext, PinnedIndex(), const_cast<std::string*>(APinnedFingerprint));
    SSL_CTX_set_verify(AContext, SSL_VERIFY_PEER, VerifyOrPinned);
}
