#include "services/TitleUpdate.h"

#include "net/Connection.h"
#include "net/ServerAnswer.h"
#include "net/WireText.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "services/ServerKind.h"

namespace {

constexpr int KAdminTimeoutMs = 1200;
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

// One request on a connection of its own, and the judgement of its reply.
TTitleOutcome Exchange(const TEncoderConfig& AConfig, const std::string& ARequest, TConnection& AConnection,
                       const std::function<bool()>& AStopped)
{
    TTitleOutcome outcome;
    if (AConnection.Open(AConfig.Host, AConfig.Port, KAdminTimeoutMs, AStopped) != TConnectResult::Connected) {
        outcome.Why = "sem conexao com o servidor";
        return outcome;
    }
    AConnection.SetTimeouts(KAdminTimeoutMs, KAdminTimeoutMs);
    if (AConfig.UseTls && !AConnection.StartTls(AConfig.Host, AConfig.TlsFingerprint)) {
        outcome.Why = AConnection.Tls()->Error();
        return outcome;
    }
    for (size_t sent = 0; sent < ARequest.size();) {
        const ssize_t n = AConnection.Send(ARequest.data() + sent, ARequest.size() - sent);
        if (n <= 0) {
            outcome.Why = "o servidor fechou a conexao";
            return outcome;
        }
        sent += static_cast<size_t>(n);
    }
    char buf[1024];
    const ssize_t n = AConnection.Receive(buf, sizeof(buf));
    const std::string reply = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    outcome.Accepted = IsMetadataReplyAccepted(reply);
    outcome.NotTaken = AsciiLower(reply).find("will not accept") != std::string::npos;
    if (outcome.NotTaken)
        outcome.Why = "o ponto de montagem nao aceita titulos por este pedido";
    else if (!outcome.Accepted)
        outcome.Why = Unbracketed(LoginRefusal(reply, false).Words);
    AConnection.Close();
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
    for (const TServerKind::TTitleRequest& request : ServerKindOf(AConfig).TitleRequests(AConfig, song)) {
        outcome = Exchange(AConfig, Request(AConfig, request), AConnection, AStopped);
        if (outcome.Accepted || (AStopped && AStopped()))
            break;
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

void TTitlePublisher::Publish(const TEncoderConfig& AConfig, const std::string& ATitle)
{
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FNext.emplace(AConfig, ATitle);
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
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FWake.wait(lock, [this] { return FEnding || FNext.has_value(); });
        if (FEnding)
            return;
        const std::pair<TEncoderConfig, std::string> next = std::move(*FNext);
        FNext.reset();
        FSending = true;
        lock.unlock();
        const TTitleOutcome outcome =
            SendTitleUpdate(next.first, next.second, FConnection, [this] { return FEnding.load(); });
        if (FReport && !outcome.Skipped && !FEnding)
            FReport(next.second, outcome);
        lock.lock();
        FSending = false;
    }
}
