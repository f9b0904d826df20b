#include "monitoring/ListenerFetch.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <memory>
#include <optional>

#include "monitoring/IcyMetadata.h"
#include "net/CurlGlobal.h"
#include "net/NetFailure.h"
#include "platform/Text.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr long KConnectMs = 5000;
constexpr long KMaxMetaInt = 1 << 20;

struct TListening {
    bool Icy = false;
    int ListenMs = 0;
    const std::atomic<bool>* Stop = nullptr;
    long MetaInt = 0;
    std::optional<TClock::time_point> HeadersAt;
    std::unique_ptr<TIcyReader> Reader;
    size_t MaxBytes = 0;
    size_t Received = 0;
    bool Full = false;
    TListened Out;
};

size_t OnHeader(char* AData, size_t ASize, size_t ACount, void* AUser)
{
    auto* l = static_cast<TListening*>(AUser);
    const size_t bytes = ASize * ACount;
    const std::string line(AData, bytes);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && AsciiLower(Trim(line.substr(0, colon))) == "icy-metaint") {
        const std::string value = Trim(line.substr(colon + 1));
        long v = 0;
        const auto parsed = std::from_chars(value.data(), value.data() + value.size(), v);
        if (parsed.ec == std::errc() && v > 0 && v <= KMaxMetaInt)
            l->MetaInt = v;
    }
    // The blank line ends a header block (a redirect's too: the clock
    // starts again with the last).
    if (Trim(line).empty()) {
        l->HeadersAt = TClock::now();
        l->Reader.reset();
    }
    return bytes;
}

size_t OnBody(char* AData, size_t ASize, size_t ACount, void* AUser)
{
    auto* l = static_cast<TListening*>(AUser);
    const size_t bytes = ASize * ACount;
    if (!l->Reader)
        l->Reader = std::make_unique<TIcyReader>(l->Icy ? static_cast<size_t>(l->MetaInt) : 0);
    l->Reader->Feed(std::string_view(AData, bytes), l->Out.Audio);
    l->Received += bytes;
    // Enough heard: a short count ends the transfer.
    l->Full = l->Received >= l->MaxBytes;
    return l->Full ? 0 : bytes;
}

int OnProgress(void* AUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* l = static_cast<TListening*>(AUser);
    if (l->Stop->load())
        return 1;
    return l->HeadersAt && TClock::now() - *l->HeadersAt >= std::chrono::milliseconds(l->ListenMs) ? 1 : 0;
}

} // namespace

size_t ListeningCap(int32_t AKbps, int AListenMs)
{
    constexpr size_t KMost = 16u << 20;
    const double kbps = AKbps > 0 ? AKbps : 48000.0 * 2 * 16 / 1000;
    const double bytes = 4.0 * kbps * 125.0 * std::max(AListenMs, 0) / 1000.0 + 65536;
    return bytes >= double(KMost) ? KMost : static_cast<size_t>(bytes);
}

TListened ListenTo(const std::string& AUrl, bool AIcy, int AListenMs, const std::atomic<bool>& AStop,
                   const THttpTrust* ATrust, size_t AMaxBytes)
{
    TListening l;
    l.MaxBytes = AMaxBytes;
    l.Icy = AIcy;
    l.ListenMs = AListenMs;
    l.Stop = &AStop;
    EnsureCurlInitialized();
    CURL* curl = curl_easy_init();
    if (!curl) {
        l.Out.Error = "sem memoria";
        return l.Out;
    }
    curl_slist* headers = nullptr;
    if (AIcy)
        headers = curl_slist_append(headers, "Icy-MetaData: 1");
    curl_easy_setopt(curl, CURLOPT_URL, AUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "TAVIX Encoder listener check");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, KConnectMs);
    // A server that never answers the request is bounded too.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, KConnectMs * 2 + AListenMs);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &l);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &l);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &l);
    if (ATrust)
        ApplyHttpTrust(curl, *ATrust);

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (l.HeadersAt)
        l.Out.Seconds = std::chrono::duration<double>(TClock::now() - *l.HeadersAt).count();
    // Our own end of the listening comes back as an abort; a time-out
    // after the headers is a stream that stopped.
    const bool heard = result == CURLE_OK || result == CURLE_ABORTED_BY_CALLBACK ||
                       (result == CURLE_WRITE_ERROR && l.Full) || (result == CURLE_OPERATION_TIMEDOUT && l.HeadersAt);
    if (status >= 400)
        l.Out.Error = "HTTP " + std::to_string(status);
    else if (!heard)
        l.Out.Error = NetFailureReason(result);
    if (l.Reader) {
        l.Out.HasIcyTitle = l.Reader->HasTitle();
        l.Out.IcyTitle = l.Reader->Title();
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return l.Out;
}
