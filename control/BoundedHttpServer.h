#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

struct THttpRequest {
    std::string Method;
    std::string Path;
    std::function<std::string(const char* AName)> Header;
    std::string Body;
};

struct THttpResponse {
    int Status = 200;
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
};

// What to do with a request: Admit sees its headers before any of the
// body is read and may answer at once (a refusal); Answer gets the whole
// request. Both run on the server's one thread and must not block.
struct THttpRoutes {
    std::function<std::optional<THttpResponse>(const THttpRequest&)> Admit;
    std::function<THttpResponse(const THttpRequest&)> Answer;
};

// An HTTP server that nobody can wear down: one event loop (a slow client
// holds nobody else), a bounded number of connections (past it, the
// oldest that has not finished its request makes room), a bounded memory
// per connection (long lines and many headers are refused), a deadline
// for each request's bytes and a cap on bodies.
class TBoundedHttpServer {
public:
    explicit TBoundedHttpServer(THttpRoutes ARoutes);
    ~TBoundedHttpServer();
    TBoundedHttpServer(const TBoundedHttpServer&) = delete;
    TBoundedHttpServer& operator=(const TBoundedHttpServer&) = delete;

    // Serves on a listening socket it then owns; false when it cannot.
    bool Serve(int AListenFd);
    void Stop();

    static constexpr size_t KMaxBodyBytes = 64 * 1024;
    static constexpr uint64_t KRequestDeadlineMs = 5000;
    // Connections served at once: a share of the open-file limit that
    // leaves the station its own sockets and files.
    static unsigned ConnectionCap();

private:
    struct TConnection {
        int Fd = -1;
        uint64_t Since = 0;
        uint64_t Deadline = 0;
        bool Answering = false;
        bool Dropped = false;
    };
    struct TRequestBody;
    // The library's callbacks, which need its own types.
    friend struct TBoundedHttpCallbacks;

    bool Queue(MHD_Connection* AConnection, const THttpResponse& AResponse);
    void Drop(TConnection& AConnection);
    void MakeRoom(MHD_Connection* ANewcomer);
    void DropLate();
    void Loop();

    THttpRoutes FRoutes;
    MHD_Daemon* FDaemon = nullptr;
    int FWake = -1;
    std::atomic<bool> FStopping{false};
    unsigned FCap = 0;
    std::map<MHD_Connection*, TConnection> FConnections; // the loop's thread only
    std::thread FThread;
};
