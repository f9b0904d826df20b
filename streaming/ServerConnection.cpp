#include "streaming/ServerOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "net/ServerAnswer.h"
#include "net/WireText.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "platform/Tick.h"
#include "services/ServerKind.h"
#include "settings/CodecIds.h"

namespace {

constexpr int KSendTimeoutMs = 6000;
constexpr int KSendBufferBytes = 262144;
constexpr int KIcecastAnswerMs = 5000;
constexpr int KShoutcastAnswerMs = 3000;
constexpr size_t KAnswerChunk = 2048;
// No login answer is longer; a server that sends more is only talking.
constexpr size_t KMaxAnswer = 16 * 1024;
// After an interim "100 Continue" the final answer may follow at once.
constexpr int KFinalAnswerMs = 500;
// The server's own source time-out: a queue that has not moved for this
// long is a dead path or a frozen server, not a slow moment.
constexpr uint64_t KStallMs = 10000;

std::string Line(const std::string& AText)
{
    return AText + "\r\n";
}

} // namespace

bool TServerOutput::ConnectToServer(int32_t APort)
{
    CloseConnection();
    const int32_t port = APort <= 0 ? FConfig.Port : APort;
    const TConnectResult result =
        FConnection.Open(FConfig.Host, port, KSendTimeoutMs, [this] { return Terminated(); }, KSendBufferBytes);
    switch (result) {
    case TConnectResult::Connected:
        break;
    case TConnectResult::HostNotFound:
        FLastRefusal = MakeRefusal(TRefusal::HostNotFound);
        TellLoginFailed("Host não encontrado: " + FConfig.Host);
        return false;
    case TConnectResult::SocketFailed:
        FLastRefusal = MakeRefusal(TRefusal::SocketFailed);
        TellLoginFailed("Falha ao criar socket.");
        return false;
    case TConnectResult::Stopped:
        // A connect cut short by the stop is no failure to tell about.
        return false;
    default:
        FLastRefusal =
            MakeRefusal(result == TConnectResult::Refused ? TRefusal::ConnectionRefused : TRefusal::Unreachable);
        if (!Terminated())
            TellLoginFailed("Nao conectou ao servidor de radio em " + FConfig.Host + ":" + std::to_string(port) + ".");
        return false;
    }
    FServerAddr = FConnection.Peer().AtPort(FConfig.Port);
    FConnection.SetTimeouts(KSendTimeoutMs, KSendTimeoutMs);
    FSendProgress.Reset();
    return !FConfig.UseTls || StartTls();
}

bool TServerOutput::StartTls()
{
    if (FConnection.StartTls(FConfig.Host, PinnedFingerprint()))
        return true;
    FLastRefusal = MakeRefusal(FConnection.Tls()->UntrustedFingerprint().empty() ? TRefusal::TlsFailure
                                                                                 : TRefusal::UntrustedCertificate);
    if (!Terminated())
        TellLoginFailed(FConnection.Tls()->Error());
    CloseConnection();
    return false;
}

void TServerOutput::TrustCertificate(const std::string& AFingerprint)
{
    const std::lock_guard<std::mutex> guard(FPinLock);
    FPinned = AFingerprint;
}

std::string TServerOutput::PinnedFingerprint() const
{
    const std::lock_guard<std::mutex> guard(FPinLock);
    return FPinned;
}

TEncoderConfig TServerOutput::TitleConfig() const
{
    TEncoderConfig config = FConfig;
    config.TlsFingerprint = PinnedFingerprint();
    return config;
}

bool TServerOutput::SendBytes(const std::string& ABytes)
{
    size_t done = 0;
    while (done < ABytes.size()) {
        if (Terminated() || !FConnection.IsOpen())
            return false;
        // The kernel's queue holds TLS records: progress counts those.
        const uint64_t wireBefore = FConnection.WireBytesSent();
        const ssize_t n = FConnection.Send(ABytes.data() + done, ABytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
        FBytesSent.fetch_add(static_cast<uint64_t>(n));
        const uint64_t wire = FConnection.Tls() ? FConnection.WireBytesSent() - wireBefore : static_cast<uint64_t>(n);
        FSendProgress.Sent(wire, GetTickCount64());
    }
    return true;
}

bool TServerOutput::ConnectionStalled()
{
    const int queued = FConnection.QueuedBytes();
    if (queued < 0)
        return false;
    const uint64_t now = GetTickCount64();
    // Both run: the probe must see its answers even while the queue moves.
    const bool frozen = FProbe.Stalled(now, KStallMs);
    return FSendProgress.Stalled(static_cast<uint64_t>(queued), now, KStallMs) || frozen;
}

std::string TServerOutput::ReadServerAnswer(int ATimeoutMs, bool* AClosed)
{
    if (AClosed)
        *AClosed = false;
    if (!FConnection.IsOpen() || Terminated())
        return {};
    FConnection.SetTimeouts(-1, ATimeoutMs);
    std::string answer;
    char buf[KAnswerChunk];
    // The time-out is for the whole answer: a drip of full chunks must not
    // hold the login for ever.
    const uint64_t until = GetTickCount64() + static_cast<uint64_t>(std::max(ATimeoutMs, 0));
    for (;;) {
        const ssize_t n = FConnection.Receive(buf, sizeof(buf));
        if (n < 0 && errno == EINTR && !Terminated() && !FConnection.Tls())
            continue;
        if (n > 0)
            answer.append(buf, static_cast<size_t>(n));
        // A reset is the server ending it too, only less politely.
        if (AClosed && (n == 0 || (n < 0 && errno == ECONNRESET)))
            *AClosed = true;
        if (n != static_cast<ssize_t>(KAnswerChunk) || Terminated() || answer.size() >= KMaxAnswer ||
            GetTickCount64() >= until)
            break;
    }
    return answer;
}

void TServerOutput::CloseConnection()
{
    FProbe.Close();
    FConnection.Close();
}

void TServerOutput::ShutdownConnection()
{
    FConnection.Shutdown();
}

bool TServerOutput::IcecastHandshake(const std::string& AContentType)
{
    const std::string mount = NormalizeMount(FConfig.Mount);
    const std::string host = Utf8ToWindows1252(Trim(FConfig.Host));
    const std::string user = FConfig.UserName.empty() ? "source" : HeaderValueUtf8(FConfig.UserName);
    const std::string password = Utf8ToWindows1252(FConfig.Password);
    const std::string name = HeaderValueUtf8(FConfig.StreamName);
    const std::string genre = HeaderValueUtf8(FConfig.Genre);
    const std::string credentials = Base64Encode(user + ":" + password);
    const std::string bitrate = std::to_string(FConfig.Bitrate);
    // Shared by both requests, after their first line(s).
    const std::string common =
        Line("Authorization: Basic " + credentials) + Line("User-Agent: TAVIX-Encoder-Nativo/2.0") +
        Line("Content-Type: " + AContentType) + Line("ice-name: " + name) +
        Line("ice-description: " + name) + Line("ice-genre: " + genre) + Line("ice-bitrate: " + bitrate) +
        Line("ice-public: 0") +
        Line("ice-audio-info: ice-bitrate=" + bitrate + ";ice-channels=" + std::to_string(FConfig.Channels) +
             ";ice-samplerate=" + std::to_string(FConfig.SampleRate));

    for (const std::string method : {"PUT", "SOURCE"}) {
        if (!ConnectToServer(FConfig.Port))
            return false;
        const std::string request =
            method == "PUT"
                ? Line("PUT " + mount + " HTTP/1.1") + Line("Host: " + HostAndPort(host, FConfig.Port)) +
                      common + Line("Expect: 100-continue") + Line("")
                : Line("SOURCE " + mount + " HTTP/1.0") + common + Line("");
        if (!SendBytes(request)) {
            FLastRefusal = MakeRefusal(TRefusal::Closed);
            CloseConnection();
            continue;
        }
        std::string answer = ReadServerAnswer(KIcecastAnswerMs);
        // An interim answer alone says nothing of the login: a proxy may
        // send it before the server has even checked the password.
        if (const int code = AnswerStatusCode(answer); code >= 100 && code < 200)
            answer += ReadServerAnswer(KFinalAnswerMs);
        if (IsIcecastSourceAccepted(answer)) {
            Tell(TOutputPhase::OnAir, "Conectado ao servidor de rádio Icecast (" + method + ").");
            return true;
        }
        FLastRefusal = LoginRefusal(answer, false);
        CloseConnection();
    }
    if (!Terminated())
        TellLoginFailed("Servidor recusou a conexão source Icecast.");
    return false;
}

bool TServerOutput::ShoutcastHandshake(const std::string& AContentType)
{
    const std::string type = AsciiLower(AContentType);
    if (type.find("ogg") != std::string::npos || type.find("flac") != std::string::npos) {
        FLastRefusal = {TRefusal::Settings, 0, ""};
        TellLoginFailed("Shoutcast comum deve usar MP3 ou AAC+.");
        return false;
    }
    const std::string password = Utf8ToWindows1252(FConfig.Password);
    const std::string bitrate = std::to_string(FConfig.Bitrate);
    const std::string rate = std::to_string(FConfig.SampleRate);
    const std::string channels = std::to_string(FConfig.Channels);
    const std::string headers =
        Line("icy-name:" + HeaderValueUtf8(FConfig.StreamName)) + Line("icy-genre:" + HeaderValueUtf8(FConfig.Genre)) +
        Line("icy-url:" + HeaderValueUtf8(FConfig.Url)) + Line("icy-pub:0") + Line("icy-br:" + bitrate) +
        Line("icy-sr:" + rate) + Line("icy-channels:" + channels) +
        Line("icy-audio-info:ice-bitrate=" + bitrate + ";ice-channels=" + channels + ";ice-samplerate=" + rate) +
        Line("icy-irc:N/A") + Line("icy-icq:N/A") + Line("icy-aim:N/A") + Line("content-type:" + AContentType) +
        Line("");

    // The source port is the one above the configured port; the configured
    // one is the fallback. Computed wide so the largest port cannot overflow.
    // A port that said no is the reason told, not the fallback's silence.
    TLoginRefusal refused;
    for (const int64_t p : {int64_t{FConfig.Port} + 1, int64_t{FConfig.Port}}) {
        if (p <= 0 || p > INT32_MAX || !ConnectToServer(static_cast<int32_t>(p)))
            continue;
        if (!SendBytes(Line(password))) {
            FLastRefusal = MakeRefusal(TRefusal::Closed);
            CloseConnection();
            continue;
        }
        bool closed = false;
        const std::string answer = ReadServerAnswer(KShoutcastAnswerMs, &closed);
        const bool accepted = IsShoutcastSourceAccepted(answer);
        if (!accepted || !SendBytes(headers)) {
            // A SHOUTcast server may close on a wrong password without a word.
            FLastRefusal = accepted                           ? MakeRefusal(TRefusal::Closed)
                           : closed && Trim(answer).empty() ? MakeRefusal(TRefusal::PasswordUnanswered)
                                                            : LoginRefusal(answer, false);
            if (refused.Kind == TRefusal::None && !accepted && (closed || !Trim(answer).empty()))
                refused = FLastRefusal;
            CloseConnection();
            continue;
        }
        Tell(TOutputPhase::OnAir, "Conectado ao servidor de rádio SHOUTcast na porta " + std::to_string(p) + ".");
        return true;
    }
    if (refused.Kind != TRefusal::None)
        FLastRefusal = refused;
    // Ports beyond reach tried nothing: still no login.
    if (FLastRefusal.Kind == TRefusal::None)
        FLastRefusal = MakeRefusal(TRefusal::Unreachable);
    if (!Terminated())
        TellLoginFailed("Servidor recusou a conexão source SHOUTcast.");
    return false;
}

bool TServerOutput::ConnectAndHandshake(const std::string& AContentType)
{
    return ServerKindOf(FConfig).Login() == TLoginStyle::ShoutcastPassword ? ShoutcastHandshake(AContentType)
                                                                           : IcecastHandshake(AContentType);
}
