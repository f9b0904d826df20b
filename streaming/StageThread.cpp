#include "streaming/StageThread.h"

#include <exception>

#include "platform/Thread.h"

TStageThread::~TStageThread()
{
    Join();
}

void TStageThread::StartThread(const std::string& AName)
{
    if (FThread.joinable())
        return;
    FThread = std::thread([this, AName] {
        NameThisThread(AName);
        // An escaped exception would end the program; the stage just ends.
        try {
            Run();
        } catch (const std::exception& e) {
            Failed(e.what());
        } catch (...) {
            Failed("?");
        }
        Finished();
        FEnded.store(true);
    });
}

void TStageThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}
