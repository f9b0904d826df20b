#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

struct THttpAnswer {
    int Status = 200;
    std::string Body;
};

// A small HTTP server on loopback (python3's http.server) that answers
// every GET from a fixed table: path with query -> status and body; any
// other path gets a 404 page. It records each request head as it arrives,
// and can hold its answers back until released.
class TScriptedHttpServer {
public:
    explicit TScriptedHttpServer(const std::map<std::string, THttpAnswer>& AAnswers);
    ~TScriptedHttpServer();
    TScriptedHttpServer(const TScriptedHttpServer&) = delete;
    TScriptedHttpServer& operator=(const TScriptedHttpServer&) = delete;

    int Port() const { return FPort; }
    std::string Url(const std::string& APath) const;
    // The request heads received so far (request line and header lines).
    std::vector<std::string> Requests() const;
    // While held, requests are recorded but not answered.
    void Hold();
    void Release();

private:
    TTempDir FDir;
    int FPort = 0;
    std::unique_ptr<TChildProcess> FProcess;
};
