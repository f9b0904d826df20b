#include "tests/services/FakeAdminServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TFakeAdminServer::TFakeAdminServer(std::string AReply) : FReply(std::move(AReply))
{
    FListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (FListen < 0 || bind(FListen, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(FListen, 16) != 0 || getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("fake admin server: no loopback socket");
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Serve(); });
}

TFakeAdminServer::~TFakeAdminServer()
{
    FStop = true;
    FThread.join();
    close(FListen);
}

std::vector<std::string> TFakeAdminServer::Requests()
{
    std::lock_guard<std::mutex> lock(FLock);
    return FRequests;
}

void TFakeAdminServer::Serve()
{
    while (!FStop) {
        pollfd p{FListen, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const int fd = accept(FListen, nullptr, nullptr);
        if (fd < 0)
            continue;
        // Read the request head, then answer (or stay silent until the
        // client closes).
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd c{fd, POLLIN, 0};
            if (poll(&c, 1, 3000) <= 0)
                break;
            const ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n <= 0)
                break;
            request.append(buf, static_cast<size_t>(n));
        }
        {
            std::lock_guard<std::mutex> lock(FLock);
            FRequests.push_back(request);
        }
        if (!FReply.empty()) {
            send(fd, FReply.data(), FReply.size(), MSG_NOSIGNAL);
        } else {
            pollfd c{fd, POLLIN, 0};
            poll(&c, 1, 3000);
        }
        close(fd);
    }
}
