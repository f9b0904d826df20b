#pragma once

#include <memory>
#include <string>

#include "control/BoundedHttpServer.h"
#include "station/StationState.h"

// What the interface answers, apart from where it listens.
THttpRoutes ControlRoutes(TControlTarget& ATarget, const std::string& AToken);

// The local control interface: HTTP with JSON on 127.0.0.1 or on a
// private Unix-domain socket, every request with "Authorization: Bearer
// <token>". GET /status; POST /start, /stop, /title ({"title": "..."}).
// It runs on a thread of its own and only hands requests to the target.
class TControlServer {
public:
    explicit TControlServer(TControlTarget& ATarget);
    ~TControlServer();
    TControlServer(const TControlServer&) = delete;
    TControlServer& operator=(const TControlServer&) = delete;

    // False, with AError set, for an empty token or a place it cannot take.
    bool Start(int APort, const std::string& AToken, std::string& AError);
    bool StartOnSocket(const std::string& APath, const std::string& AToken, std::string& AError);
    void Stop();

private:
    bool Serve(int AListenFd, const std::string& AToken, std::string& AError);

    TControlTarget& FTarget;
    std::unique_ptr<TBoundedHttpServer> FServer;
    std::string FSocketPath;
};
