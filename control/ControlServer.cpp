#include "control/ControlServer.h"

#include <chrono>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/crypto.h>

namespace {

constexpr size_t KMaxBodyBytes = 4096;
constexpr const char* KJson = "application/json";

void Answer(httplib::Response& ARes, int AStatus, const std::string& AMessage)
{
    ARes.status = AStatus;
    ARes.set_content(nlohmann::json{{"error", AMessage}}.dump(), KJson);
}

// Compared in constant time: the interface must not tell how much of a
// guessed token was right.
bool SameToken(const std::string& AGiven, const std::string& AToken)
{
    return AGiven.size() == AToken.size() && CRYPTO_memcmp(AGiven.data(), AToken.data(), AToken.size()) == 0;
}

void Done(httplib::Response& ARes, int AStatus)
{
    ARes.status = AStatus;
    ARes.set_content(R"({"ok":true})", KJson);
}

} // namespace

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
    FToken = AToken;
    FServer = std::make_unique<httplib::Server>();
    FServer->set_payload_max_length(64 * 1024);
    // Not the library's default, which shares the port (SO_REUSEPORT): a
    // second copy of the program must be refused, not take half the calls.
    FServer->set_socket_options([](socket_t ASocket) {
        const int yes = 1;
        setsockopt(ASocket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    // Small answers on kept connections would otherwise wait for the
    // peer's delayed acknowledgement, tens of milliseconds each.
    FServer->set_tcp_nodelay(true);
    FServer->set_read_timeout(5, 0);
    FServer->set_write_timeout(5, 0);
    Route();
    if (!FServer->bind_to_port("127.0.0.1", APort)) {
        AError = "A interface de controle nao conseguiu usar 127.0.0.1:" + std::to_string(APort) + ".";
        FServer.reset();
        return false;
    }
    FThread = std::thread([this] { FServer->listen_after_bind(); });
    // A stop before the loop runs would be lost and the join would wait
    // forever: the loop is up before Start returns.
    for (int i = 0; i < 500 && !FServer->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

void TControlServer::Stop()
{
    if (FServer)
        FServer->stop();
    if (FThread.joinable())
        FThread.join();
    FServer.reset();
}

void TControlServer::Route()
{
    FServer->set_pre_routing_handler([this](const httplib::Request& AReq, httplib::Response& ARes) {
        const std::string auth = AReq.get_header_value("Authorization");
        const std::string prefix = "Bearer ";
        if (auth.rfind(prefix, 0) != 0 || !SameToken(auth.substr(prefix.size()), FToken)) {
            ARes.set_header("WWW-Authenticate", "Bearer");
            Answer(ARes, 401, "token ausente ou errado");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    FServer->set_error_handler([](const httplib::Request& AReq, httplib::Response& ARes) {
        if (ARes.status != 404)
            return;
        // A known path asked the wrong way: say which way is right.
        const char* allowed = AReq.path == "/status" ? "GET"
                              : AReq.path == "/start" || AReq.path == "/stop" || AReq.path == "/title" ? "POST"
                                                                                                       : nullptr;
        if (!allowed) {
            Answer(ARes, 404, "caminho desconhecido");
            return;
        }
        ARes.set_header("Allow", allowed);
        Answer(ARes, 405, std::string("use ") + allowed + " " + AReq.path);
    });
    FServer->Get("/status", [this](const httplib::Request&, httplib::Response& ARes) {
        ARes.set_content(StationStateJson(FTarget.State()), KJson);
    });
    FServer->Post("/start", [this](const httplib::Request&, httplib::Response& ARes) {
        FTarget.RequestStart();
        Done(ARes, 202);
    });
    FServer->Post("/stop", [this](const httplib::Request&, httplib::Response& ARes) {
        FTarget.RequestStop();
        Done(ARes, 202);
    });
    FServer->Post("/title", [this](const httplib::Request& AReq, httplib::Response& ARes) {
        if (AReq.body.size() > KMaxBodyBytes) {
            Answer(ARes, 400, "corpo grande demais");
            return;
        }
        const nlohmann::json body = nlohmann::json::parse(AReq.body, nullptr, false);
        if (body.is_discarded() || !body.is_object() || !body.contains("title") || !body["title"].is_string()) {
            Answer(ARes, 400, "esperado {\"title\": \"...\"}");
            return;
        }
        const std::string refusal = FTarget.RequestTitle(body["title"].get<std::string>());
        if (refusal.empty())
            Done(ARes, 200);
        else
            Answer(ARes, 409, refusal);
    });
}
