#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A fake streaming server on 127.0.0.1 for what a real one will not do on
// demand: refuse PUT but take SOURCE, stay silent, or stop reading. It serves
// one connection at a time: reads until the end of the first request (AEnd),
// answers with the script entry of that connection (none = never answers),
// then keeps recording what arrives until the peer closes.
class FakeSourceServer {
public:
    struct TOptions {
        std::vector<std::optional<std::string>> Answers;
        std::string RequestEnd = "\r\n\r\n";
        // When false the server stops reading after its answer, so the
        // client's sends end up blocked.
        bool ReadAfterAnswer = true;
        // When true the server hangs up right after its answer, as one that
        // takes a login and drops it at once.
        bool CloseAfterAnswer = false;
        // Above 0: the answer never ends, 2048 more bytes every DripMs, for
        // up to 30 s.
        int DripMs = 0;
        int Port = 0; // 0: any free port
    };

    explicit FakeSourceServer(TOptions AOptions);
    ~FakeSourceServer();

    int Port() const { return FPort; }
    int Connections() const { return FConnections.load(); }
    // Everything each connection sent, in order of arrival.
    std::vector<std::string> Transcripts() const;
    // Number of connections whose peer has closed.
    int Closed() const { return FClosed.load(); }

private:
    void Serve();
    void Handle(int AFd, size_t AIndex);
    bool WaitReadable(int AFd);

    TOptions FOptions;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::atomic<int> FClosed{0};
    mutable std::mutex FLock;
    std::vector<std::string> FTranscripts;
    std::thread FThread;
};
