#include "control/BoundedHttpServer.h"

#include <algorithm>
#include <climits>
#include <microhttpd.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Thread.h"
#include "platform/Tick.h"

namespace {

// Enough for the request line and a browser's headers; a longer line or
// a pile of headers is refused by the library once this is full.
constexpr size_t KMemoryPerConnection = 32 * 1024;
// Room for connections dropped but not yet closed by the loop.
constexpr unsigned KDroppedSlack = 16;
constexpr unsigned KIdleSeconds = 10;

} // namespace

struct TBoundedHttpServer::TRequestBody {
    std::string Text;
    bool Answered = false;
};

struct TBoundedHttpCallbacks {
    static THttpRequest Describe(MHD_Connection* AConnection, const char* AUrl, const char* AMethod)
    {
        THttpRequest request;
        request.Method = AMethod;
        request.Path = AUrl;
        request.Header = [AConnection](const char* AName) {
            const char* value = MHD_lookup_connection_value(AConnection, MHD_HEADER_KIND, AName);
            return std::string(value ? value : "");
        };
        return request;
    }

    static MHD_Result OnRequest(void* ASelf, MHD_Connection* AConnection, const char* AUrl, const char* AMethod,
                                const char*, const char* AUpload, size_t* AUploadSize, void** AContext)
    {
        auto& self = *static_cast<TBoundedHttpServer*>(ASelf);
        auto* body = static_cast<TBoundedHttpServer::TRequestBody*>(*AContext);
        if (!body) {
            body = new TBoundedHttpServer::TRequestBody;
            *AContext = body;
            // Refusals go out before a byte of the body is read.
            if (const auto early = self.FRoutes.Admit(Describe(AConnection, AUrl, AMethod))) {
                body->Answered = true;
                return self.Queue(AConnection, *early) ? MHD_YES : MHD_NO;
            }
            return MHD_YES;
        }
        if (*AUploadSize > 0) {
            const size_t size = *AUploadSize;
            *AUploadSize = 0;
            if (body->Answered)
                return MHD_YES;
            if (body->Text.size() + size > TBoundedHttpServer::KMaxBodyBytes) {
                body->Answered = true;
                return self.Queue(AConnection, {413, R"({"error":"corpo grande demais"})", {}}) ? MHD_YES : MHD_NO;
            }
            body->Text.append(AUpload, size);
            return MHD_YES;
        }
        if (body->Answered)
            return MHD_YES;
        body->Answered = true;
        THttpRequest request = Describe(AConnection, AUrl, AMethod);
        request.Body = std::move(body->Text);
        return self.Queue(AConnection, self.FRoutes.Answer(request)) ? MHD_YES : MHD_NO;
    }

    static void OnCompleted(void* ASelf, MHD_Connection* AConnection, void** AContext, MHD_RequestTerminationCode)
    {
        auto& self = *static_cast<TBoundedHttpServer*>(ASelf);
        delete static_cast<TBoundedHttpServer::TRequestBody*>(*AContext);
        *AContext = nullptr;
        // A kept connection gets a fresh deadline for its next request.
        if (const auto found = self.FConnections.find(AConnection); found != self.FConnections.end()) {
            found->second.Answering = false;
            found->second.Deadline = GetTickCount64() + TBoundedHttpServer::KRequestDeadlineMs;
        }
    }

    static void OnConnection(void* ASelf, MHD_Connection* AConnection, void**, MHD_ConnectionNotificationCode ACode)
    {
        auto& self = *static_cast<TBoundedHttpServer*>(ASelf);
        if (ACode == MHD_CONNECTION_NOTIFY_CLOSED) {
            self.FConnections.erase(AConnection);
            return;
        }
        const MHD_ConnectionInfo* info = MHD_get_connection_info(AConnection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const uint64_t now = GetTickCount64();
        TBoundedHttpServer::TConnection& added = self.FConnections[AConnection];
        added.Fd = info ? info->connect_fd : -1;
        added.Since = now;
        added.Deadline = now + TBoundedHttpServer::KRequestDeadlineMs;
        self.MakeRoom(AConnection);
    }
};

TBoundedHttpServer::TBoundedHttpServer(THttpRoutes ARoutes) : FRoutes(std::move(ARoutes)) {}

TBoundedHttpServer::~TBoundedHttpServer()
{
    Stop();
}

unsigned TBoundedHttpServer::ConnectionCap()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return 64;
    const rlim_t share = files.rlim_cur > 64 ? (files.rlim_cur - 64) / 2 : 0;
    return static_cast<unsigned>(std::clamp<rlim_t>(share, 4, 64));
}

bool TBoundedHttpServer::Serve(int AListenFd)
{
    Stop();
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake < 0) {
        close(AListenFd);
        return false;
    }
    FCap = ConnectionCap();
    FStopping = false;
    FDaemon = MHD_start_daemon(
        MHD_USE_EPOLL, 0, nullptr, nullptr, &TBoundedHttpCallbacks::OnRequest, this, MHD_OPTION_LISTEN_SOCKET,
        AListenFd, MHD_OPTION_CONNECTION_LIMIT, FCap + KDroppedSlack, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        KMemoryPerConnection, MHD_OPTION_CONNECTION_TIMEOUT, KIdleSeconds, MHD_OPTION_NOTIFY_COMPLETED,
        &TBoundedHttpCallbacks::OnCompleted, this, MHD_OPTION_NOTIFY_CONNECTION, &TBoundedHttpCallbacks::OnConnection,
        this, MHD_OPTION_END);
    if (!FDaemon) {
        close(AListenFd);
        close(FWake);
        FWake = -1;
        return false;
    }
    FThread = std::thread([this] { Loop(); });
    return true;
}

void TBoundedHttpServer::Stop()
{
    if (FThread.joinable()) {
        FStopping = true;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(FWake, &one, sizeof(one));
        FThread.join();
    }
    if (FDaemon)
        MHD_stop_daemon(FDaemon);
    FDaemon = nullptr;
    FConnections.clear();
    if (FWake >= 0)
        close(FWake);
    FWake = -1;
}

bool TBoundedHttpServer::Queue(MHD_Connection* AConnection, const THttpResponse& AResponse)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        AResponse.Body.size(), const_cast<char*>(AResponse.Body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return false;
    for (const auto& [name, value] : AResponse.Headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    const bool queued = MHD_queue_response(AConnection, AResponse.Status, response) == MHD_YES;
    MHD_destroy_response(response);
    if (const auto found = FConnections.find(AConnection); found != FConnections.end())
        found->second.Answering = true;
    return queued;
}

// The library closes the connection when it next reads: shutting the
// socket down ends it without touching the library's own records.
void TBoundedHttpServer::Drop(TConnection& AConnection)
{
    if (AConnection.Fd >= 0)
        shutdown(AConnection.Fd, SHUT_RDWR);
    AConnection.Dropped = true;
}

void TBoundedHttpServer::MakeRoom(MHD_Connection* ANewcomer)
{
    size_t live = 0;
    for (const auto& [connection, state] : FConnections)
        live += state.Dropped ? 0 : 1;
    while (live > FCap) {
        TConnection* oldest = nullptr;
        for (auto& [connection, state] : FConnections)
            if (connection != ANewcomer && !state.Dropped && !state.Answering &&
                (!oldest || state.Since < oldest->Since))
                oldest = &state;
        Drop(oldest ? *oldest : FConnections[ANewcomer]);
        --live;
    }
}

void TBoundedHttpServer::DropLate()
{
    const uint64_t now = GetTickCount64();
    for (auto& [connection, state] : FConnections)
        if (!state.Dropped && !state.Answering && now >= state.Deadline)
            Drop(state);
}

void TBoundedHttpServer::Loop()
{
    NameThisThread("control");
    const MHD_DaemonInfo* info = MHD_get_daemon_info(FDaemon, MHD_DAEMON_INFO_EPOLL_FD);
    const int events = info ? info->epoll_fd : -1;
    while (!FStopping) {
        int64_t wait = -1;
        if (MHD_UNSIGNED_LONG_LONG library = 0; MHD_get_timeout(FDaemon, &library) == MHD_YES)
            wait = static_cast<int64_t>(std::min<MHD_UNSIGNED_LONG_LONG>(library, INT_MAX));
        const uint64_t now = GetTickCount64();
        for (const auto& [connection, state] : FConnections)
            if (!state.Dropped && !state.Answering) {
                const int64_t left = state.Deadline > now ? static_cast<int64_t>(state.Deadline - now) : 0;
                wait = wait < 0 ? left : std::min(wait, left);
            }
        pollfd fds[2] = {{events, POLLIN, 0}, {FWake, POLLIN, 0}};
        poll(fds, 2, static_cast<int>(wait));
        if (FStopping)
            break;
        MHD_run(FDaemon);
        DropLate();
    }
}
