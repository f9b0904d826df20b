#include "services/ListenerCountThread.h"

#include <algorithm>

#include "services/OwnListeners.h"
#include "services/ServerKind.h"

#include "net/HttpGet.h"
#include "net/WireText.h"
#include "platform/Text.h"
#include "services/ListenerStats.h"

namespace {

const char* const kAgent = "TAVIX Encoder Listeners";
// Connect, send and receive each get this much; the whole request at most
// all three together.
constexpr long kTimeoutMs = 4000;
constexpr THttpLimits kLimits{kTimeoutMs, kTimeoutMs, 3 * kTimeoutMs};
// A statistics page is a few kilobytes; a server sending without end is cut
// off here rather than filling the memory.
constexpr size_t kMaxBody = 4 * 1024 * 1024;

} // namespace

std::string HttpGetText(const std::string& AUrl, const THttpTrust* ATrust)
{
    std::string body;
    HttpGet(
        AUrl, kAgent, kLimits,
        [&body](std::string_view APiece) {
            body.append(APiece.substr(0, kMaxBody - body.size()));
            return body.size() < kMaxBody;
        },
        ATrust);
    return body;
}

int32_t QueryListenerCount(const TEncoderConfig& AConfig, std::string& AErrorText)
{
    const std::string host = ExtractHost(AConfig.Host);
    if (host.empty()) {
        AErrorText = "sem servidor";
        return -1;
    }
    const std::string base = (AConfig.UseTls ? "https://" : "http://") + HostAndPort(host, AConfig.Port);
    const THttpTrust trust{host, AConfig.TlsFingerprint};
    const THttpTrust* tls = AConfig.UseTls ? &trust : nullptr;
    const TServerKind& kind = ServerKindOf(AConfig);
    const int32_t count =
        kind.Listeners([&](const std::string& APath) { return HttpGetText(base + APath, tls); }, AConfig);
    const std::string mount = kind.CountedMount(AConfig);
    if (count < 0) {
        AErrorText = "indisponivel";
        return count;
    }
    return std::max(0, count - OwnListenersAt(host, AConfig.Port, mount));
}

TTavixListenerCountThread::TTavixListenerCountThread(const TEncoderConfig& AConfig)
    : TThread(true), FConfig(AConfig)
{
    FreeOnTerminate = true;
}

TTavixListenerCountThread::~TTavixListenerCountThread()
{
    Shutdown();
}

void TTavixListenerCountThread::Execute()
{
    NameThisThread("listeners");
    FErrorText.clear();
    FCount = QueryListenerCount(FConfig, FErrorText);
    if (Terminated())
        return;
    Queue([this] {
        // Checked again here: the owner may have said stop while this call
        // waited in the queue.
        if (OnResult && !Terminated())
            OnResult(this, FCount, FErrorText);
    });
}
