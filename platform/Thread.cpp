#include "platform/Thread.h"

#include <pthread.h>

#include <deque>
#include <exception>
#include <memory>

namespace {

struct TPendingCall {
    const TThread* Owner;
    std::function<void()> Method;
};

// Lives for the whole process and is never destroyed: free-on-terminate
// workers may still hand over calls while the program exits.
struct THandOffQueue {
    std::mutex Lock;
    std::condition_variable Queued;
    std::deque<TPendingCall> Calls;
    std::thread::id MainThread = std::this_thread::get_id();
    std::function<void()> Wake;
};

THandOffQueue& HandOffs()
{
    static THandOffQueue* queue = new THandOffQueue;
    return *queue;
}

// Make sure the queue records the loading thread as the main one.
const bool GQueueReady = (HandOffs(), true);

// Takes AOwner's calls out of the queue, in their order.
std::deque<TPendingCall> TakeCallsOf(const TThread* AOwner)
{
    THandOffQueue& q = HandOffs();
    std::deque<TPendingCall> taken;
    std::lock_guard<std::mutex> lock(q.Lock);
    for (auto it = q.Calls.begin(); it != q.Calls.end();) {
        if (it->Owner == AOwner) {
            taken.push_back(std::move(*it));
            it = q.Calls.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

bool HasQueuedCalls(const TThread* AOwner)
{
    THandOffQueue& q = HandOffs();
    std::lock_guard<std::mutex> lock(q.Lock);
    for (const TPendingCall& call : q.Calls)
        if (call.Owner == AOwner)
            return true;
    return false;
}

void RunCall(TPendingCall& ACall)
{
    try {
        ACall.Method();
    } catch (...) {
        // A failing handler must not take the owner's loop down.
    }
}

} // namespace

TThread::TThread(bool ACreateSuspended)
{
    FThread = std::thread([this] { Run(); });
    if (!ACreateSuspended)
        Start();
}

TThread::~TThread()
{
    Shutdown();
}

void TThread::Shutdown()
{
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            FThread.detach(); // deleted from its own Execute
            return;
        }
        // Destroying a thread that never started: let it run an empty course.
        {
            std::lock_guard<std::mutex> lock(FStartLock);
            if (!FStarted) {
                FCancelled = true;
                FStarted = true;
            }
        }
        FStartSignal.notify_all();
        WaitFor();
    }
    // Destroyed outside the queue's lock: a call's captures may own anything.
    TakeCallsOf(this);
}

void TThread::Start()
{
    // Notified under the lock: a free-on-terminate thread may run and delete
    // itself (and this signal) as soon as the lock is released.
    std::lock_guard<std::mutex> lock(FStartLock);
    if (FStarted)
        return;
    FStarted = true;
    FStartSignal.notify_all();
}

void TThread::Run()
{
    bool cancelled;
    {
        std::unique_lock<std::mutex> lock(FStartLock);
        FStartSignal.wait(lock, [this] { return FStarted; });
        cancelled = FCancelled;
    }
    // A thread destroyed while still suspended never runs its body.
    if (!cancelled) {
        try {
            Execute();
        } catch (...) {
            // An escaped error ends the thread, as it would on any platform.
        }
    }
    const bool selfFree = FreeOnTerminate && !cancelled;
    const bool tell = OnTerminate && !cancelled;
    FFinished.store(true);
    if (selfFree && !tell && !HasQueuedCalls(this)) {
        delete this;
    } else if (selfFree) {
        // Deleted on the owner's thread after its last words: nothing here
        // may touch this object once that is queued.
        Queue([this] {
            if (OnTerminate)
                OnTerminate(this);
            delete this;
        });
    } else if (tell) {
        Queue([this] { OnTerminate(this); });
    }
}

void TThread::WaitFor()
{
    if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id())
        return;
    const bool owner = IsMainThread();
    if (owner) {
        while (!Finished())
            RunQueued(10);
    }
    FThread.join();
    if (owner)
        for (TPendingCall& call : TakeCallsOf(this))
            RunCall(call);
}

bool TThread::IsMainThread()
{
    return std::this_thread::get_id() == HandOffs().MainThread;
}

void TThread::SetMainThread()
{
    std::lock_guard<std::mutex> lock(HandOffs().Lock);
    HandOffs().MainThread = std::this_thread::get_id();
}

void TThread::SetWakeMainThread(std::function<void()> AWake)
{
    std::lock_guard<std::mutex> lock(HandOffs().Lock);
    HandOffs().Wake = std::move(AWake);
}

void TThread::Queue(std::function<void()> AMethod)
{
    if (IsMainThread()) {
        AMethod();
        return;
    }
    THandOffQueue& q = HandOffs();
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(q.Lock);
        // One wake-up per batch: the owner drains the whole queue at once.
        if (q.Calls.empty())
            wake = q.Wake;
        q.Calls.push_back({this, std::move(AMethod)});
    }
    q.Queued.notify_all();
    if (wake)
        wake();
}

bool TThread::RunQueued(int ATimeoutMs)
{
    THandOffQueue& q = HandOffs();
    std::unique_lock<std::mutex> lock(q.Lock);
    if (q.Calls.empty() && ATimeoutMs > 0)
        q.Queued.wait_for(lock, std::chrono::milliseconds(ATimeoutMs), [&q] { return !q.Calls.empty(); });
    bool ranAny = false;
    while (!q.Calls.empty()) {
        TPendingCall call = std::move(q.Calls.front());
        q.Calls.pop_front();
        lock.unlock();
        RunCall(call);
        call = {};
        ranAny = true;
        lock.lock();
    }
    return ranAny;
}

void NameThisThread(const std::string& AName)
{
    pthread_setname_np(pthread_self(), AName.substr(0, 15).c_str());
}
