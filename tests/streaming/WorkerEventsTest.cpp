#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Tick.h"
#include "tests/streaming/FakeSourceServer.h"
#include "tests/streaming/WorkerProbe.h"
#include "tests/support/WaitUntil.h"

namespace {

// Pumps the owner's hand-offs until the worker ends and takes its last
// words; false after ATimeoutMs.
bool PumpUntilFinished(TThread& AWorker, int ATimeoutMs)
{
    if (!WaitUntil([&] { return AWorker.Finished(); }, ATimeoutMs))
        return false;
    AWorker.WaitFor();
    return true;
}

void WaitFor(const std::atomic<bool>& AFlag)
{
    const uint64_t until = GetTickCount64() + 5000;
    while (!AFlag && GetTickCount64() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

// The worker never waits for its owner: it runs to its end while the owner
// is busy elsewhere, its levels are readable at once, and its events reach
// the owner in their order on the owner's thread, even those told after its
// end (the last words of WaitFor).
TEST(WorkerEvents, TheWorkerNeverWaitsAndItsEventsReachTheOwnerInOrderWhenItPumps)
{
    TWorkerProbe worker(LoopbackConfig(1), [](TWorkerProbe& w) {
        for (int i = 0; i < 100; ++i) {
            TOutputState state;
            state.Phase = i % 2 == 0 ? TOutputPhase::Retrying : TOutputPhase::OnAir;
            state.Attempt = i;
            state.Text = std::to_string(i);
            w.PostOutput(i % 4 + 1, state);
            std::vector<float> out;
            const std::vector<float> in(64, 0.25f);
            w.ProcessAudioBlock(in.data(), 32, 2, out, 2);
        }
    });
    bool onOwner = true;
    std::vector<int> servers;
    worker.OnOutput = [&](TNativeEncoderThread* Sender, int AServer, const TOutputState& AState) {
        onOwner = onOwner && TThread::IsMainThread() && Sender == &worker;
        servers.push_back(AServer);
        worker.Statuses.emplace_back(AState.Text, IsErrorState(AState));
    };
    worker.Start();
    const uint64_t until = GetTickCount64() + 5000;
    while (!worker.Finished() && GetTickCount64() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(worker.Finished()) << "the worker waited for its owner";
    EXPECT_TRUE(worker.Statuses.empty()) << "handlers run only inside the owner's pump";
    const TLevelReading levels = worker.Levels().Latest();
    EXPECT_EQ(levels.Blocks, 100u);
    EXPECT_EQ(levels.Frames, 3200u);
    EXPECT_GT(levels.Levels.L, 0.5);
    EXPECT_EQ(levels.Levels.L, levels.Levels.R);

    worker.WaitFor();
    ASSERT_EQ(worker.Statuses.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(worker.Statuses[static_cast<size_t>(i)], std::make_pair(std::to_string(i), i % 2 == 0));
        EXPECT_EQ(servers[static_cast<size_t>(i)], i % 4 + 1);
    }
    EXPECT_TRUE(onOwner);
}

// A worker deleted away from its owner's thread, before the owner pumped,
// leaves nothing behind to run on a freed object.
TEST(WorkerEvents, EventsOfAWorkerDeletedElsewhereAreDropped)
{
    std::atomic<int> handled{0};
    std::thread elsewhere([&] {
        TWorkerProbe worker(LoopbackConfig(1), [](TWorkerProbe& w) { w.PostOutput(1, {}); });
        worker.OnOutput = [&](TNativeEncoderThread*, int, const TOutputState&) { ++handled; };
        worker.Start();
        const uint64_t until = GetTickCount64() + 5000;
        while (!worker.Finished() && GetTickCount64() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    elsewhere.join();
    TThread::RunQueued(50);
    EXPECT_EQ(handled.load(), 0);
}

TEST(WorkerEvents, StopNowEndsASendBlockedOnTheNetwork)
{
    // The server takes the connection but never reads from it.
    FakeSourceServer fake({.Answers = {std::nullopt}, .RequestEnd = "", .ReadAfterAnswer = false});
    std::atomic<bool> sending{false};
    std::atomic<bool> sent{true};
    std::atomic<bool> stillOpen{false};
    TWorkerProbe worker(LoopbackConfig(fake.Port()), [&](TWorkerProbe& w) {
        if (!w.Server().ConnectToServer(0))
            return;
        // Far more than the socket buffers hold, made before the send: under
        // the thread sanitizer filling it takes longer than the wait below.
        const std::string payload(16 << 20, 'a');
        sending = true;
        sent = w.Server().SendBytes(payload);
        stillOpen = w.Server().Connected(); // the stop shuts the connection down; closing is ours
        w.Server().CloseConnection();
    });
    worker.Start();
    WaitFor(sending);
    ASSERT_TRUE(sending);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // well inside the blocked send
    EXPECT_FALSE(worker.Finished());
    const uint64_t stopAt = GetTickCount64();
    worker.StopNow();
    ASSERT_TRUE(PumpUntilFinished(worker, 5000));
    EXPECT_LT(GetTickCount64() - stopAt, 3000u) << "returns long before the 6 s send time-out";
    EXPECT_FALSE(sent);
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(worker.Server().Connected());
    worker.WaitFor();
}

TEST(WorkerEvents, StopNowEndsAnAnswerWaitAndLaterSendsFail)
{
    FakeSourceServer fake({.Answers = {std::nullopt}});
    std::atomic<bool> waiting{false};
    std::string answer = "unset";
    bool sendAfterStop = true;
    TWorkerProbe worker(LoopbackConfig(fake.Port()), [&](TWorkerProbe& w) {
        if (!w.Server().ConnectToServer(0) || !w.Server().SendBytes("PUT / HTTP/1.1\r\n\r\n"))
            return;
        waiting = true;
        answer = w.Server().ReadServerAnswer(30000);
        sendAfterStop = w.Server().SendBytes("more");
    });
    worker.Start();
    WaitFor(waiting);
    ASSERT_TRUE(waiting);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t stopAt = GetTickCount64();
    worker.StopNow();
    ASSERT_TRUE(PumpUntilFinished(worker, 5000));
    EXPECT_LT(GetTickCount64() - stopAt, 3000u) << "not the 30 s the read was given";
    EXPECT_EQ(answer, "");
    EXPECT_FALSE(sendAfterStop) << "the stop flag fails every later send";
    worker.WaitFor();
}

// A stop is never a lost server: a login asked for after it opens no
// connection and tells of no refusal.
TEST(WorkerEvents, ALoginAfterAStopConnectsNowhereAndSaysNothing)
{
    FakeSourceServer fake({.Answers = {"HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"}});
    bool loggedIn = true;
    TWorkerProbe worker(LoopbackConfig(fake.Port()), [&loggedIn](TWorkerProbe& w) {
        w.StopNow();
        loggedIn = w.Server().IcecastHandshake("audio/mpeg");
    });
    worker.Start();
    ASSERT_TRUE(PumpUntilFinished(worker, 5000));
    EXPECT_FALSE(loggedIn);
    EXPECT_TRUE(worker.Statuses.empty()) << worker.Statuses.front().first;
    EXPECT_FALSE(worker.Server().Connected());
    worker.WaitFor();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(fake.Connections(), 0);
}

TEST(WorkerEvents, StopNowEndsAConnectThatHangs)
{
    // A listener that never accepts, with its queue filled: further
    // connection attempts get no answer at all, like a silent host.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t len = sizeof(addr);
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    }
    std::atomic<bool> connecting{false};
    std::atomic<bool> connected{true};
    TWorkerProbe worker(LoopbackConfig(ntohs(addr.sin_port)), [&](TWorkerProbe& w) {
        connecting = true;
        connected = w.Server().ConnectToServer(0);
    });
    worker.Start();
    WaitFor(connecting);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(worker.Finished()) << "the connect is still waiting";
    const uint64_t stopAt = GetTickCount64();
    worker.StopNow();
    EXPECT_TRUE(PumpUntilFinished(worker, 5000));
    EXPECT_LT(GetTickCount64() - stopAt, 3000u) << "a stop does not wait for the system's connect time-out";
    EXPECT_FALSE(connected);
    worker.WaitFor();
    for (int fd : fillers)
        close(fd);
    close(listener);
}
