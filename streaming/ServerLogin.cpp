#include <chrono>
#include <thread>

#include "net/WireText.h"
#include "platform/Text.h"
#include "platform/Tick.h"
#include "services/ServerKind.h"
#include "settings/CodecIds.h"
#include "streaming/ServerOutput.h"

namespace {

constexpr int KRetryPauses = 30;
constexpr auto KRetryPause = std::chrono::milliseconds(100);
// A login that the server ends sooner than this was no real login: it is
// retried at the normal pace, not at once, again and again.
constexpr uint64_t KQuickDropMs = 5000;

} // namespace

bool TServerOutput::FirstLogin()
{
    FLoginPhase = TOutputPhase::Connecting;
    Tell(TOutputPhase::Connecting,
         "Conectando ao servidor de radio em " + Trim(FConfig.Host) + ":" + std::to_string(FConfig.Port) + "...");
    // A stop during the login is no lost server: nothing is retried then.
    if (!ConnectAndHandshake(FCodecRow->ContentType))
        return !GivingUp() && Reconnect("Nao conectou ao servidor de radio.");
    if (!JoinStream())
        return !GivingUp() && Reconnect("Servidor fechou a conexao.");
    OnLoggedIn();
    return true;
}

void TServerOutput::OnLoggedIn()
{
    FLoginTick = GetTickCount64();
    FLastRefusal = {};
    FProbe.Start(FServerAddr, FLoginTick, ServerKindOf(FConfig).ProbeRequest(FConfig));
    FBehind = false;
    // Every login starts a new stream on the server, which has no title for
    // it until told (an Ogg encoder started with it in the stream).
    PublishByAdmin();
    NoteOnAir(true);
    NoteTitleSent();
}

bool TServerOutput::Reconnect(const std::string& AReason)
{
    if (GivingUp())
        return false;
    FLoginPhase = TOutputPhase::Retrying;
    // The link is lost, no login refused yet: on its way back.
    Tell(TOutputPhase::Retrying, AReason + " Reconectando...");
    NoteOnAir(false);
    CloseConnection();
    const bool droppedAtOnce = FLoginTick != 0 && GetTickCount64() - FLoginTick < KQuickDropMs;
    FLoginTick = 0;
    if (droppedAtOnce) {
        FLastRefusal = MakeRefusal(TRefusal::ClosedAfterLogin);
        ++FAttempt;
        PostRetry();
        if (!RetryPause())
            return false;
    } else {
        FAttempt = 0;
    }
    while (!GivingUp()) {
        if (ConnectAndHandshake(FCodecRow->ContentType)) {
            if (JoinStream()) {
                Tell(TOutputPhase::OnAir, "Reconectado ao servidor de radio.");
                OnLoggedIn();
                return true;
            }
            CloseConnection();
            if (GivingUp())
                return false;
            FLastRefusal = MakeRefusal(TRefusal::Closed);
            Tell(TOutputPhase::Retrying, "Servidor fechou durante a reconexao. Tentando novamente...");
        }
        CloseConnection();
        if (GivingUp())
            return false;
        ++FAttempt;
        PostRetry();
        if (!RetryPause())
            return false;
    }
    return false;
}

void TServerOutput::PostRetry()
{
    Tell(TOutputPhase::Retrying,
         "Tentando reconectar ao servidor de radio (" + std::to_string(FAttempt) + ")..." +
             (FLastRefusal.Words.empty() ? "" : " " + FLastRefusal.Words),
         FLastRefusal);
}

bool TServerOutput::RetryPause()
{
    for (int i = 0; i < KRetryPauses; ++i) {
        if (GivingUp())
            return false;
        std::this_thread::sleep_for(KRetryPause);
    }
    return !GivingUp();
}
