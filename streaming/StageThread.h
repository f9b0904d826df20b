#pragma once

#include <atomic>
#include <string>
#include <thread>

// A stage of the transmission with a thread of its own: the capture thread
// only feeds it.
class TStageThread {
public:
    TStageThread() = default;
    // A derived class calls Join in its destructor: Run uses its members.
    virtual ~TStageThread();
    TStageThread(const TStageThread&) = delete;
    TStageThread& operator=(const TStageThread&) = delete;

    // AName: the thread's name (see NameThisThread).
    virtual void StartThread(const std::string& AName);
    virtual void Join();
    // Its thread has returned (or never ran Run to the end).
    bool Ended() const { return FEnded.load(); }

protected:
    virtual void Run() = 0;
    // Run ended by an exception; says why to the operator.
    virtual void Failed(const std::string& AWhat) = 0;
    // After Run, however it ended: nothing more is taken.
    virtual void Finished() = 0;

private:
    std::thread FThread;
    std::atomic<bool> FEnded{false};
};
