#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/Thread.h"
#include "platform/Tick.h"
#include "tests/support/WaitUntil.h"

namespace {

class TProbeThread : public TThread {
public:
    explicit TProbeThread(bool ASuspended) : TThread(ASuspended) {}
    ~TProbeThread() override { Shutdown(); }
    std::atomic<int> Runs{0};
    std::atomic<bool> HandedOver{false};

protected:
    void Execute() override
    {
        ++Runs;
        Queue([this] { HandedOver = TThread::IsMainThread(); });
        while (!Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

// Counts its runs outside itself, so they can be read after it is gone.
class TCountingThread : public TThread {
public:
    explicit TCountingThread(std::atomic<int>* ARuns) : TThread(true), FRuns(ARuns) {}
    ~TCountingThread() override { Shutdown(); }

protected:
    void Execute() override { ++*FRuns; }

private:
    std::atomic<int>* FRuns;
};

class TSelfFreeing : public TThread {
public:
    explicit TSelfFreeing(std::atomic<int>* ADone) : TThread(true), FDone(ADone) {}
    ~TSelfFreeing() override { ++*FDone; }

protected:
    void Execute() override {}

private:
    std::atomic<int>* FDone;
};

} // namespace

TEST(Thread, SuspendedThreadRunsOnlyAfterStartAndHandsOverOnlyWhenPumped)
{
    TProbeThread t(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(t.Runs.load(), 0);
    t.Start();
    t.Start(); // a second start does nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(t.Runs.load(), 1);
    EXPECT_FALSE(t.HandedOver.load()) << "ran before the owner pumped";
    WaitUntil([&] { return t.HandedOver.load(); }, 2000);
    EXPECT_TRUE(t.HandedOver.load()) << "the hand-off must run on the owner's thread";
    EXPECT_FALSE(t.Finished());
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}

TEST(Thread, NeverStartedThreadIsDestroyedWithoutRunning)
{
    std::atomic<int> runs{0};
    delete new TCountingThread(&runs); // must neither hang nor run Execute
    EXPECT_EQ(runs.load(), 0);
}

// Without a last word to tell, it deletes itself on its own thread, with no
// owner to pump.
TEST(Thread, FreeOnTerminateWithoutOnTerminateNeedsNoOwner)
{
    std::atomic<int> destroyed{0};
    auto* t = new TSelfFreeing(&destroyed);
    t->FreeOnTerminate = true;
    t->Start();
    const uint64_t until = GetTickCount64() + 2000;
    while (destroyed.load() == 0 && GetTickCount64() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(destroyed.load(), 1);
}

// One that left calls for its owner is deleted only after them, on the
// owner's thread: they may use the object.
TEST(Thread, FreeOnTerminateOutlivesTheCallsItQueued)
{
    class TTelling : public TThread {
    public:
        TTelling(std::atomic<int>* ADone, std::string* ASeen) : TThread(true), FDone(ADone), FSeen(ASeen) {}
        ~TTelling() override { ++*FDone; }

    protected:
        void Execute() override
        {
            Queue([this] { *FSeen = FWord; });
        }

    private:
        std::atomic<int>* FDone;
        std::string* FSeen;
        std::string FWord = "ainda aqui";
    };
    std::atomic<int> destroyed{0};
    std::string seen;
    auto* t = new TTelling(&destroyed, &seen);
    t->FreeOnTerminate = true;
    t->Start();
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load() != 0; }, 2000));
    EXPECT_EQ(seen, "ainda aqui");
}

TEST(Thread, FreeOnTerminateDeletesItselfAfterOnTerminateRanOnOwnersThread)
{
    std::atomic<int> destroyed{0};
    bool terminateOnMain = false;
    auto* t = new TSelfFreeing(&destroyed);
    t->FreeOnTerminate = true;
    t->OnTerminate = [&](TThread*) { terminateOnMain = TThread::IsMainThread(); };
    t->Start();
    WaitUntil([&] { return destroyed.load() != 0; }, 2000);
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_TRUE(terminateOnMain);
}

TEST(Tick, MonotonicMillisecondsAndLow32Bits)
{
    const uint64_t a = GetTickCount64();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    const uint64_t b = GetTickCount64();
    EXPECT_GE(b - a, 24u);
    EXPECT_LT(b - a, 1000u);
    // Read between two 64-bit reads, so a millisecond may pass meanwhile.
    const uint64_t before = GetTickCount64();
    const uint32_t low = GetTickCount();
    const uint64_t after = GetTickCount64();
    EXPECT_LE(low - static_cast<uint32_t>(before), static_cast<uint32_t>(after - before));
}
