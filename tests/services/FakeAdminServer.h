#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// FakeAdminServer: a stand-in for a server's admin interface, for replies a
// real icecast2 never gives. It records every request it receives and
// answers each with the scripted reply; an empty reply means silence (the
// connection stays open until the client gives up).
class TFakeAdminServer {
public:
    explicit TFakeAdminServer(std::string AReply);
    ~TFakeAdminServer();

    int Port() const { return FPort; }
    std::vector<std::string> Requests();

private:
    void Serve();

    std::string FReply;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<std::string> FRequests;
    std::thread FThread;
};
