#include "platform/Tick.h"

#include <ctime>

uint64_t GetTickCount64()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t GetTickCount()
{
    return static_cast<uint32_t>(GetTickCount64());
}
