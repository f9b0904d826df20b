#include "services/TitleUpdate.h"

#include "net/Connection.h"
#include "net/ServerAnswer.h"
#include "net/WireText.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "services/ServerKind.h"
#include "platform/Thread.h"

namespace {

constexpr int KAdminTimeoutMs = 1200;
constexpr const char* KNotTakenWhy = "o ponto de montagem nao aceita titulos por este pedido";
constexpr const char* KUserAgent = "User-Agent: TAVIX-Encoder-Nativo/2.1\r\n";
constexpr const char* KTextHeaders =
    "Content-Type: text/plain; charset=UTF-8\r\n"
    "Accept-Charset: UTF-8\r\n"
    "Connection: close\r\n"
    "\r\n";

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

std::string Unbracketed(const std::string& AWords)
{
    return AWords.size() >= 2 && AWords.front() == '(' && AWords.back() == ')' ? AWords.substr(1, AWords.size() - 2)
                                                                                : AWords;
}

// One request on a connection of its own: the start of the reply, or
// false with why.
bool Ask(const TEncoderConfig& AConfig, const std::string& ARequest, TConnection& AConnection,
         const std::function<bool()>& AStopped, std::string& AReply, std::string& AWhy)
{
    if (AConnection.Open(AConfig.Host, AConfig.Port, KAdminTimeoutMs, AStopped) != TConnectResult::Connected) {
        AWhy = "sem conexao com o servidor";
        return false;
    }
    AConnection.SetTimeouts(KAdminTimeoutMs, KAdminTimeoutMs);
    if (AConfig.UseTls && !AConnection.StartTls(AConfig.Host, AConfig.TlsFingerprint)) {
        AWhy = AConnection.Tls()->Error();
        return false;
    }
    for (size_t sent = 0; sent < ARequest.size();) {
        const ssize_t n = AConnection.Send(ARequest.data() + sent, ARequest.size() - sent);
        if (n <= 0) {
            AWhy = "o servidor fechou a conexao";
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    char buf[1024];
    const ssize_t n = AConnection.Receive(buf, sizeof(buf));
    AReply = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    AConnection.Close();
    return true;
}

// One title request, and the judgement of its reply.
TTitleOutcome Exchange(const TEncoderConfig& AConfig, const std::string& ARequest, TConnection& AConnection,
                       const std::function<bool()>& AStopped)
{
    TTitleOutcome outcome;
    std::string reply;
    if (!Ask(AConfig, ARequest, AConnection, AStopped, reply, outcome.Why))
        return outcome;
    outcome.Accepted = IsMetadataReplyAccepted(reply);
    // icecast2's words for a mount that takes no titles this way; other
    // servers refuse the request's method for such a mount.
    outcome.NotTaken =
        AsciiLower(reply).find("will not accept") != std::string::npos || AnswerStatusCode(reply) == 405;
    if (outcome.NotTaken)
        outcome.Why = KNotTakenWhy;
    else if (!outcome.Accepted)
        outcome.Why = Unbracketed(LoginRefusal(reply, false).Words);
    return outcome;
}

std::string Request(const TEncoderConfig& AConfig, const TServerKind::TTitleRequest& ARequest)
{
    return "GET " + ARequest.Target + " HTTP/1.0\r\n" + "Host: " +
           HostAndPort(Utf8ToWindows1252(Trim(AConfig.Host)), AConfig.Port) + "\r\n" +
           (ARequest.Credentials.empty() ? std::string() : "Authorization: Basic " + ARequest.Credentials + "\r\n") +
           KUserAgent + KTextHeaders;
}

} // namespace

TTitleOutcome SendTitleUpdate(const TEncoderConfig& AConfig, const std::string& ATitle, TConnection& AConnection,
                              const std::function<bool()>& AStopped)
{
    const std::string song = Trim(ATitle);
    // A port beyond 16 bits would silently reach another one.
    const bool portValid = AConfig.Port > 0 && AConfig.Port <= 65535;
    if (song.empty() || Trim(AConfig.Host).empty() || !portValid || AConfig.Password.empty())
        return {true, false, false, ""};
    TTitleOutcome outcome;
    bool notTaken = false;
    for (const TServerKind::TTitleRequest& request : ServerKindOf(AConfig).TitleRequests(AConfig, song)) {
        outcome = Exchange(AConfig, Request(AConfig, request), AConnection, AStopped);
        notTaken = notTaken || outcome.NotTaken;
        if (outcome.Accepted || (AStopped && AStopped()))
            break;
    }
    // A mount that takes no titles this way is not made to by other
    // credentials: their refusal is not the answer.
    if (!outcome.Accepted && notTaken && !outcome.NotTaken) {
        outcome.NotTaken = true;
        outcome.Why = KNotTakenWhy;
    }
    return outcome;
}

TTitlePublisher::TTitlePublisher(TReport AReport)
    : FReport(std::move(AReport))
{
    FThread = std::thread([this] { Run(); });
}

TTitlePublisher::~TTitlePublisher()
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FEnding = true;
        FNext.reset();
    }
    FWake.notify_all();
    FConnection.Shutdown();
    FThread.join();
}

void TTitlePublisher::Publish(const TEncoderConfig& AConfig, const std::string& ATitle, bool AUnlessIcecast)
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FNext = TRequest{AConfig, ATitle, AUnlessIcecast};
    }
    FWake.notify_all();
}

bool TTitlePublisher::Busy() const
{
    const std::lock_guard<std::mutex> guard(FLock);
    return FSending || FNext.has_value();
}

void TTitlePublisher::Run()
{
    NameThisThread("titles");
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FWake.wait(lock, [this] { return FEnding || FNext.has_value(); });
        if (FEnding)
            return;
        const TRequest next = std::move(*FNext);
        FNext.reset();
        FSending = true;
        lock.unlock();
        if (!next.UnlessIcecast || !IcecastItself(next.Config)) {
            const TTitleOutcome outcome =
                SendTitleUpdate(next.Config, next.Title, FConnection, [this] { return FEnding.load(); });
            if (FReport && !outcome.Skipped && !FEnding)
                FReport(next.Title, outcome);
        }
        lock.lock();
        FSending = false;
    }
}

bool TTitlePublisher::IcecastItself(const TEncoderConfig& AConfig)
{
    if (FIcecast)
        return *FIcecast;
    std::string reply, why;
    const std::string request = Request(AConfig, {"/status-json.xsl", ""});
    // Not asked (the server away): taken for icecast2 and asked again next
    // time, so an Ogg mount there never gets a request that races its chain.
    if (!Ask(AConfig, request, FConnection, [this] { return FEnding.load(); }, reply, why))
        return true;
    // Behind a proxy the header is the proxy's; the page still names it.
    FIcecast = AsciiLower(AnswerHeader(reply, "Server")).rfind("icecast", 0) == 0 ||
               AsciiLower(reply).find("\"server_id\":\"icecast") != std::string::npos;
    return *FIcecast;
}
