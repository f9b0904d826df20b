#include "tests/streaming/FakeSourceServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

FakeSourceServer::FakeSourceServer(TOptions AOptions) : FOptions(std::move(AOptions))
{
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (!FOptions.ReadAfterAnswer) {
        // A small window fills fast once nobody reads.
        const int small = 4096;
        setsockopt(FListen, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(FOptions.Port));
    if (bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(FListen, 8) != 0) {
        close(FListen);
        throw std::runtime_error("FakeSourceServer cannot listen");
    }
    socklen_t len = sizeof(addr);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Serve(); });
}

FakeSourceServer::~FakeSourceServer()
{
    FStop = true;
    FThread.join();
    close(FListen);
}

std::vector<std::string> FakeSourceServer::Transcripts() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FTranscripts;
}

bool FakeSourceServer::WaitReadable(int AFd)
{
    pollfd p{AFd, POLLIN, 0};
    while (!FStop) {
        if (poll(&p, 1, 20) > 0)
            return true;
    }
    return false;
}

void FakeSourceServer::Serve()
{
    while (WaitReadable(FListen)) {
        const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        size_t index;
        {
            std::lock_guard<std::mutex> lock(FLock);
            index = FTranscripts.size();
            FTranscripts.emplace_back();
        }
        ++FConnections;
        Handle(fd, index);
        close(fd);
    }
}

void FakeSourceServer::Handle(int AFd, size_t AIndex)
{
    bool answered = false;
    char buf[65536];
    while (WaitReadable(AFd)) {
        const ssize_t n = recv(AFd, buf, sizeof(buf), 0);
        if (n <= 0) {
            ++FClosed;
            return;
        }
        bool requestDone;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FTranscripts[AIndex].append(buf, static_cast<size_t>(n));
            requestDone = FTranscripts[AIndex].find(FOptions.RequestEnd) != std::string::npos;
        }
        if (answered || !requestDone)
            continue;
        answered = true;
        if (AIndex < FOptions.Answers.size() && FOptions.Answers[AIndex]) {
            const std::string& a = *FOptions.Answers[AIndex];
            (void)!send(AFd, a.data(), a.size(), MSG_NOSIGNAL);
        }
        const std::string drip = "X-Drip: " + std::string(2038, 'a') + "\r\n";
        for (int waited = 0; FOptions.DripMs > 0 && waited < 30000 && !FStop; waited += FOptions.DripMs) {
            poll(nullptr, 0, FOptions.DripMs);
            if (send(AFd, drip.data(), drip.size(), MSG_NOSIGNAL) <= 0)
                break;
        }
        if (FOptions.CloseAfterAnswer)
            return;
        if (!FOptions.ReadAfterAnswer) {
            while (!FStop)
                poll(nullptr, 0, 20);
            return;
        }
    }
}
