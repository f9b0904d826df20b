#include "streaming/ServerProbe.h"

#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Often enough that a probe is always out within two seconds of a
// freeze, so it is noticed within the stall time; seldom enough to be
// a small line in the server's access log.
constexpr uint64_t KProbeEveryMs = 2000;
// A probe younger than this says nothing yet, so a stall of less than
// this never ends a transmission.
constexpr uint64_t KProbeWaitMs = 8000;

} // namespace

TServerProbe::~TServerProbe()
{
    Drop();
}

void TServerProbe::Start(const TPeerAddress& AAddr, uint64_t ANowTick, std::string ARequest)
{
    Drop();
    FAddr = AAddr;
    FRequest = std::move(ARequest);
    FArmed = true;
    FStartTick = ANowTick;
    FAnswerTick = ANowTick;
}

void TServerProbe::Close()
{
    Drop();
    FArmed = false;
}

void TServerProbe::Drop()
{
    if (FFd != -1)
        close(FFd);
    FFd = -1;
    FSent = false;
}

bool TServerProbe::Stalled(uint64_t ANowTick, uint64_t AStallMs)
{
    if (!FArmed)
        return false;
    if (FFd == -1) {
        if (ANowTick - FStartTick >= KProbeEveryMs)
            Begin(ANowTick);
    } else {
        Step(ANowTick);
    }
    return FFd != -1 && ANowTick - FStartTick >= KProbeWaitMs && ANowTick - FAnswerTick >= AStallMs;
}

void TServerProbe::Begin(uint64_t ANowTick)
{
    FStartTick = ANowTick;
    FFd = socket(FAddr.Address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (FFd == -1)
        return;
    if (connect(FFd, reinterpret_cast<const sockaddr*>(&FAddr.Address), FAddr.Length) != 0 && errno != EINPROGRESS)
        Drop(); // refused or unreachable: the source connection will tell
}

void TServerProbe::Step(uint64_t ANowTick)
{
    pollfd p{FFd, static_cast<short>(FSent ? POLLIN : POLLOUT), 0};
    if (poll(&p, 1, 0) <= 0)
        return;
    if (!FSent) {
        int error = 0;
        socklen_t len = sizeof(error);
        getsockopt(FFd, SOL_SOCKET, SO_ERROR, &error, &len);
        if (error != 0 || send(FFd, FRequest.data(), FRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(FRequest.size())) {
            Drop();
            return;
        }
        FSent = true;
        return;
    }
    // Any byte, or an orderly close, comes from a process that runs.
    char buf[256];
    const ssize_t n = recv(FFd, buf, sizeof(buf), 0);
    if (n >= 0)
        FAnswerTick = ANowTick;
    if (n >= 0 || (errno != EAGAIN && errno != EINTR))
        Drop();
}
