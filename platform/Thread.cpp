#include "platform/Thread.h"

#include <deque>
#include <exception>
#include <memory>

namespace {

struct TPendingCall {
    std::function<void()> Method;
    bool Done = false;
    std::exception_ptr Error;
};

// Lives for the whole process and is never destroyed: free-on-terminate
// workers may still hand over calls while the program exits.
struct TSyncQueue {
    std::mutex Lock;
    std::condition_variable Queued;
    std::condition_variable Ran;
    std::deque<TPendingCall*> Calls;
    std::thread::id MainThread = std::this_thread::get_id();
    std::function<void()> Wake;
};

TSyncQueue& Queue()
{
    static TSyncQueue* queue = new TSyncQueue;
    return *queue;
}

// Make sure the queue records the loading thread as the main one.
const bool GQueueReady = (Queue(), true);

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
    if (!FThread.joinable())
        return;
    if (FThread.get_id() == std::this_thread::get_id()) {
        FThread.detach(); // a free-on-terminate thread deleting itself
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
        if (OnTerminate) {
            try {
                Synchronize([this] { OnTerminate(this); });
            } catch (...) {
            }
        }
    }
    const bool selfFree = FreeOnTerminate;
    FFinished.store(true);
    if (selfFree)
        delete this;
}

void TThread::WaitFor()
{
    if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id())
        return;
    if (IsMainThread()) {
        while (!Finished())
            CheckSynchronize(10);
    }
    FThread.join();
}

bool TThread::IsMainThread()
{
    return std::this_thread::get_id() == Queue().MainThread;
}

void TThread::SetMainThread()
{
    std::lock_guard<std::mutex> lock(Queue().Lock);
    Queue().MainThread = std::this_thread::get_id();
}

void TThread::SetWakeMainThread(std::function<void()> AWake)
{
    std::lock_guard<std::mutex> lock(Queue().Lock);
    Queue().Wake = std::move(AWake);
}

void TThread::Synchronize(const std::function<void()>& AMethod)
{
    if (IsMainThread()) {
        AMethod();
        return;
    }
    TSyncQueue& q = Queue();
    TPendingCall call;
    call.Method = AMethod;
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(q.Lock);
        q.Calls.push_back(&call);
        wake = q.Wake;
    }
    q.Queued.notify_all();
    if (wake)
        wake();
    std::unique_lock<std::mutex> lock(q.Lock);
    q.Ran.wait(lock, [&call] { return call.Done; });
    if (call.Error)
        std::rethrow_exception(call.Error);
}

bool TThread::CheckSynchronize(int ATimeoutMs)
{
    TSyncQueue& q = Queue();
    std::unique_lock<std::mutex> lock(q.Lock);
    if (q.Calls.empty() && ATimeoutMs > 0)
        q.Queued.wait_for(lock, std::chrono::milliseconds(ATimeoutMs), [&q] { return !q.Calls.empty(); });
    bool ranAny = false;
    while (!q.Calls.empty()) {
        TPendingCall* call = q.Calls.front();
        q.Calls.pop_front();
        lock.unlock();
        try {
            call->Method();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        call->Done = true;
        ranAny = true;
        q.Ran.notify_all();
    }
    return ranAny;
}
