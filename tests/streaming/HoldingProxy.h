#pragma once

#include <atomic>
#include <thread>

// A TCP relay of the test's own between the worker and a real server, on
// 127.0.0.1: it forwards both ways until told to hold, then stops reading
// what the worker sends and takes no new connection, as a dead network path
// does; released, it forwards again. Its receive window is small, so a
// hold shows in the sender's queue at once.
class THoldingProxy {
public:
    explicit THoldingProxy(int AUpstreamPort);
    ~THoldingProxy();

    int Port() const { return FPort; }
    void Hold(bool AHold) { FHold = AHold; }
    int Accepted() const { return FAccepted.load(); }

private:
    void Relay();

    int FUpstreamPort;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FHold{false};
    std::atomic<bool> FStop{false};
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};
