#include "tests/streaming/HoldingProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

sockaddr_in Loopback(int APort)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(APort));
    return addr;
}

bool SendAll(int AFd, const char* AData, size_t ASize)
{
    while (ASize > 0) {
        const ssize_t n = send(AFd, AData, ASize, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        AData += n;
        ASize -= static_cast<size_t>(n);
    }
    return true;
}

struct TPair {
    int Client;
    int Upstream;
};

} // namespace

THoldingProxy::THoldingProxy(int AUpstreamPort) : FUpstreamPort(AUpstreamPort)
{
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1, small = 4096;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    // Inherited by accepted sockets: the window they offer stays small.
    setsockopt(FListen, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    sockaddr_in addr = Loopback(0);
    if (bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(FListen, 16) != 0) {
        close(FListen);
        throw std::runtime_error("THoldingProxy cannot listen");
    }
    socklen_t len = sizeof(addr);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this] { Relay(); });
}

THoldingProxy::~THoldingProxy()
{
    FStop = true;
    FThread.join();
    close(FListen);
}

void THoldingProxy::Relay()
{
    std::vector<TPair> pairs;
    char buf[16384];
    while (!FStop) {
        const bool hold = FHold;
        std::vector<pollfd> fds;
        fds.push_back({FListen, static_cast<short>(hold ? 0 : POLLIN), 0});
        for (const TPair& p : pairs) {
            fds.push_back({p.Client, static_cast<short>(hold ? 0 : POLLIN), 0});
            fds.push_back({p.Upstream, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = Loopback(FUpstreamPort);
            if (client >= 0 && connect(upstream, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0) {
                pairs.push_back({client, upstream});
                ++FAccepted;
            } else {
                if (client >= 0)
                    close(client);
                close(upstream);
            }
        }
        // A pair accepted in this round has no entry in fds yet.
        const size_t polled = (fds.size() - 1) / 2;
        std::vector<TPair> open(pairs.begin() + static_cast<std::ptrdiff_t>(polled), pairs.end());
        for (size_t i = 0; i < polled; ++i) {
            const pollfd& c = fds[1 + 2 * i];
            const pollfd& u = fds[2 + 2 * i];
            bool alive = true;
            if (c.revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = recv(c.fd, buf, sizeof(buf), 0);
                alive = n > 0 && SendAll(pairs[i].Upstream, buf, static_cast<size_t>(n));
            }
            if (alive && (u.revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = recv(u.fd, buf, sizeof(buf), 0);
                alive = n > 0 && SendAll(pairs[i].Client, buf, static_cast<size_t>(n));
            }
            if (alive) {
                open.push_back(pairs[i]);
            } else {
                close(pairs[i].Client);
                close(pairs[i].Upstream);
            }
        }
        pairs.swap(open);
    }
    for (const TPair& p : pairs) {
        close(p.Client);
        close(p.Upstream);
    }
}
