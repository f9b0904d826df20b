#pragma once

#include <chrono>
#include <thread>

#include "platform/Thread.h"

// Polls ACondition until it holds or ATimeoutMs pass, running the hand-offs
// that workers queue for this (the user-interface) thread meanwhile.
// True when the condition held.
template <class TCondition>
bool WaitUntil(TCondition ACondition, int ATimeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    while (!ACondition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        TThread::RunQueued(10);
    }
    return true;
}
