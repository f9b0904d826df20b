#include "control/ControlServer.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include "control/ListeningSocket.h"

namespace {

constexpr size_t KMaxTitleBodyBytes = 4096;

THttpResponse Json(int AStatus, std::string ABody)
{
    return {AStatus, std::move(ABody), {{"Content-Type", "application/json"}}};
}

THttpResponse Refusal(int AStatus, const std::string& AMessage)
{
    return Json(AStatus, nlohmann::json{{"error", AMessage}}.dump());
}

THttpResponse Done(int AStatus)
{
    return Json(AStatus, R"({"ok":true})");
}

// Compared in constant time: the interface must not tell how much of a
// guessed token was right.
bool SameToken(const std::string& AGiven, const std::string& AToken)
{
    return AGiven.size() == AToken.size() && CRYPTO_memcmp(AGiven.data(), AToken.data(), AToken.size()) == 0;
}

std::optional<THttpResponse> Admit(const THttpRequest& ARequest, const std::string& AToken)
{
    const std::string auth = ARequest.Header("Authorization");
    const std::string prefix = "Bearer ";
    if (auth.rfind(prefix, 0) == 0 && SameToken(auth.substr(prefix.size()), AToken))
        return std::nullopt;
    THttpResponse refused = Refusal(401, "token ausente ou errado");
    refused.Headers.emplace_back("WWW-Authenticate", "Bearer");
    return refused;
}

THttpResponse Title(TControlTarget& ATarget, const std::string& ABody)
{
    if (ABody.size() > KMaxTitleBodyBytes)
        return Refusal(400, "corpo grande demais");
    const nlohmann::json body = nlohmann::json::parse(ABody, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("title") || !body["title"].is_string())
        return Refusal(400, "esperado {\"title\": \"...\"}");
    const std::string refusal = ATarget.RequestTitle(body["title"].get<std::string>());
    return refusal.empty() ? Done(200) : Refusal(409, refusal);
}

THttpResponse Answer(const THttpRequest& ARequest, TControlTarget& ATarget)
{
    const std::string& path = ARequest.Path;
    const char* allowed = path == "/status"                                       ? "GET"
                          : path == "/start" || path == "/stop" || path == "/title" ? "POST"
                                                                                    : nullptr;
    if (!allowed)
        return Refusal(404, "caminho desconhecido");
    // A known path asked the wrong way: say which way is right.
    if (ARequest.Method != allowed) {
        THttpResponse wrong = Refusal(405, std::string("use ") + allowed + " " + path);
        wrong.Headers.emplace_back("Allow", allowed);
        return wrong;
    }
    if (path == "/status")
        return Json(200, StationStateJson(ATarget.State()));
    if (path == "/start") {
        ATarget.RequestStart();
        return Done(202);
    }
    if (path == "/stop") {
        ATarget.RequestStop();
        return Done(202);
    }
    return Title(ATarget, ARequest.Body);
}

} // namespace

THttpRoutes ControlRoutes(TControlTarget& ATarget, const std::string& AToken)
{
    return {
        [AToken](const THttpRequest& ARequest) { return Admit(ARequest, AToken); },
        [&ATarget](const THttpRequest& ARequest) { return Answer(ARequest, ATarget); },
    };
}

TControlServer::TControlServer(TControlTarget& ATarget) : FTarget(ATarget) {}

TControlServer::~TControlServer()
{
    Stop();
}

bool TControlServer::Start(int APort, const std::string& AToken, std::string& AError)
{
    Stop();
    if (AToken.empty()) {
        AError = "Interface de controle sem token: defina [Controle] Token.";
        return false;
    }
    if (APort <= 0 || APort > 65535) {
        AError = "Porta da interface de controle invalida: " + std::to_string(APort) + ".";
        return false;
    }
    const int listening = ListenOnLoopback(APort, AError);
    return listening >= 0 && Serve(listening, AToken, AError);
}

bool TControlServer::StartOnSocket(const std::string& APath, const std::string& AToken, std::string& AError)
{
    Stop();
    if (AToken.empty()) {
        AError = "Interface de controle sem token: defina [Controle] Token.";
        return false;
    }
    const int listening = ListenOnPrivateSocket(APath, AError);
    if (listening < 0 || !Serve(listening, AToken, AError))
        return false;
    FSocketPath = APath;
    return true;
}

bool TControlServer::Serve(int AListenFd, const std::string& AToken, std::string& AError)
{
    FServer = std::make_unique<TBoundedHttpServer>(ControlRoutes(FTarget, AToken));
    if (FServer->Serve(AListenFd))
        return true;
    FServer.reset();
    AError = "A interface de controle nao conseguiu iniciar.";
    return false;
}

void TControlServer::Stop()
{
    FServer.reset();
    if (!FSocketPath.empty())
        unlink(FSocketPath.c_str());
    FSocketPath.clear();
}
