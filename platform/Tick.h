#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock, like the 64-bit system tick.
uint64_t GetTickCount64();
// Low 32 bits of the same clock: wraps after about 49.7 days.
uint32_t GetTickCount();
