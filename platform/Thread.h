#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// A worker thread object in the manner the rest of the program expects:
// created suspended or running, a cooperative stop flag, an optional
// self-destruction when Execute returns, and a hand-off of calls to the
// owner's thread that never makes the worker wait.
// Names the calling thread as top -H, perf and debuggers show it (at most
// 15 bytes are kept).
void NameThisThread(const std::string& AName);

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
    // Blocks until Execute has returned. On the owner's thread it keeps
    // running queued hand-offs, and runs those left once the thread is over,
    // so nothing the worker said is lost.
    void WaitFor();

    // Set before Start: the object deletes itself after Execute (and
    // OnTerminate) have run. Such a thread must not be waited for.
    bool FreeOnTerminate = false;
    // Runs on the owner's thread after Execute, as a queued hand-off.
    std::function<void(TThread* Sender)> OnTerminate;

    // Hands AMethod to the owner's thread and returns at once; it runs in
    // the order queued, at the owner's next RunQueued (at once when called
    // there). Any thread may queue
    // on this object's behalf. Calls still queued when this object is
    // destroyed are dropped, never run on a freed object.
    void Queue(std::function<void()> AMethod);
    // Runs the hand-offs queued by workers. Waits up to ATimeoutMs for one
    // to arrive when none is queued. Returns true when it ran at least one.
    // Only the owner's (user-interface) thread may call it.
    static bool RunQueued(int ATimeoutMs = 0);
    static bool IsMainThread();
    // Declares the calling thread to be the user-interface thread. The
    // thread that loaded the program is that thread unless told otherwise.
    static void SetMainThread();
    // Called from a worker when a hand-off is queued into an empty queue, so
    // an event loop can schedule one RunQueued. Must not block.
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
