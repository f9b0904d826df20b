#pragma once

#include <memory>
#include <string>
#include <thread>

#include "station/StationState.h"

namespace httplib {
class Server;
}

// The local control interface: HTTP with JSON on 127.0.0.1 only, every
// request with "Authorization: Bearer <token>". GET /status; POST /start,
// /stop, /title ({"title": "..."}). It runs on threads of its own and
// only hands requests to the target.
class TControlServer {
public:
    explicit TControlServer(TControlTarget& ATarget);
    ~TControlServer();
    TControlServer(const TControlServer&) = delete;
    TControlServer& operator=(const TControlServer&) = delete;

    // False, with AError set, for an empty token or a port it cannot take.
    bool Start(int APort, const std::string& AToken, std::string& AError);
    void Stop();

private:
    void Route();

    TControlTarget& FTarget;
    std::string FToken;
    std::unique_ptr<httplib::Server> FServer;
    std::thread FThread;
};
