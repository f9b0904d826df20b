#include "net/HttpGet.h"

#include <curl/curl.h>

#include "net/CurlGlobal.h"
#include "net/NetFailure.h"
#include "net/TlsSession.h"
#include "platform/Text.h"

namespace {

struct TSinkCall {
    const std::function<bool(std::string_view)>* Sink;
};

size_t WriteBody(char* AData, size_t ASize, size_t ACount, void* AUser)
{
    auto* call = static_cast<TSinkCall*>(AUser);
    const size_t bytes = ASize * ACount;
    return (*call->Sink)(std::string_view(AData, bytes)) ? bytes : 0;
}

CURLcode ConfigureTrust(CURL*, void* AContext, void* ATrust)
{
    const auto* trust = static_cast<const THttpTrust*>(ATrust);
    ConfigureTlsTrust(static_cast<ssl_ctx_st*>(AContext), trust->Host, &trust->PinnedFingerprint);
    return CURLE_OK;
}

} // namespace

void ApplyHttpTrust(CURL* ACurl, const THttpTrust& ATrust)
{
    // The host check moves into OpenSSL's verification, where a pinned
    // certificate may stand in for the whole of it. A libcurl on another
    // TLS library refuses the hook: it keeps its own host check then (no
    // pinning), never none.
    curl_easy_setopt(ACurl, CURLOPT_SSL_VERIFYPEER, 1L);
    const bool hooked = curl_easy_setopt(ACurl, CURLOPT_SSL_CTX_FUNCTION, ConfigureTrust) == CURLE_OK &&
                        curl_easy_setopt(ACurl, CURLOPT_SSL_CTX_DATA, const_cast<THttpTrust*>(&ATrust)) == CURLE_OK;
    curl_easy_setopt(ACurl, CURLOPT_SSL_VERIFYHOST, hooked ? 0L : 2L);
}

bool HttpGet(const std::string& AUrl, const std::string& AAgent, const THttpLimits& ALimits,
             const std::function<bool(std::string_view)>& ASink, const THttpTrust* ATrust, THttpOutcome* AOutcome)
{
    EnsureCurlInitialized();
    CURL* curl = curl_easy_init();
    if (!curl) {
        if (AOutcome)
            *AOutcome = {0, NetFailureReason(CURLE_OUT_OF_MEMORY)};
        return false;
    }
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");

    TSinkCall call{&ASink};
    curl_easy_setopt(curl, CURLOPT_URL, AUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, AAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ALimits.ConnectMs);
    // A stall: less than one byte a second for the whole stall time.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (ALimits.StallMs + 999) / 1000);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, ALimits.TotalMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &call);
    if (ATrust)
        ApplyHttpTrust(curl, *ATrust);

    const CURLcode result = curl_easy_perform(curl);
    if (AOutcome) {
        *AOutcome = {0, NetFailureReason(result)};
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &AOutcome->Status);
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return result == CURLE_OK;
}

bool IsWebAddress(const std::string& AText)
{
    const std::string text = AsciiLower(Trim(AText));
    for (const std::string scheme : {"http://", "https://"})
        if (text.rfind(scheme, 0) == 0 && text.size() > scheme.size())
            return true;
    return false;
}
