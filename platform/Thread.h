#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A worker thread object in the manner the rest of the program expects:
// created suspended or running, a cooperative stop flag, an optional
// self-destruction when Execute returns, and a synchronous hand-off of calls
// to the user-interface thread.
class TThread {
public:
    // A thread created running may enter Execute before a derived class is
    // constructed: derived classes pass true and call Start when ready.
    explicit TThread(bool ACreateSuspended);
    virtual ~TThread();

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Lets a suspended thread run Execute. Has no effect a second time.
    void Start();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    // Blocks until Execute has returned. On the user-interface thread it
    // keeps running queued hand-offs, so a worker waiting in Synchronize
    // cannot deadlock its owner.
    void WaitFor();

    // Set before Start: the object deletes itself after Execute (and
    // OnTerminate) have run. Such a thread must not be waited for.
    bool FreeOnTerminate = false;
    // Runs on the user-interface thread after Execute, through Synchronize.
    std::function<void(TThread* Sender)> OnTerminate;

    // Runs AMethod on the user-interface thread and waits for it to return;
    // runs it directly when already there.
    static void Synchronize(const std::function<void()>& AMethod);
    // Runs the hand-offs queued by workers. Waits up to ATimeoutMs for one
    // to arrive when none is queued. Returns true when it ran at least one.
    // Only the user-interface thread may call it.
    static bool CheckSynchronize(int ATimeoutMs = 0);
    static bool IsMainThread();
    // Declares the calling thread to be the user-interface thread. The
    // thread that loaded the program is that thread unless told otherwise.
    static void SetMainThread();
    // Called from a worker whenever a hand-off is queued, so an event loop
    // can schedule a CheckSynchronize. May be called from any thread.
    static void SetWakeMainThread(std::function<void()> AWake);

protected:
    virtual void Execute() = 0;
    // Waits for a started thread to end, or cancels one that never started.
    // A class whose Execute uses its own members calls it in its destructor.
    void Shutdown();

private:
    void Run();

    std::thread FThread;
    std::mutex FStartLock;
    std::condition_variable FStartSignal;
    bool FStarted = false;
    bool FCancelled = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
};
