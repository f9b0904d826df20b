#pragma once

#include <cstdint>
#include <deque>
#include <utility>

// Whether the bytes handed to the connection still leave the machine. A
// dead path or a frozen server shows as a kernel send queue that stops
// draining long before a send fails: the oldest byte still waiting there
// says how long nothing has been taken.
class TSendProgress {
public:
    void Reset();
    // ABytes more were handed to the kernel at ANowTick.
    void Sent(uint64_t ABytes, uint64_t ANowTick);
    // AQueued: bytes the kernel still holds, unsent or unacknowledged. True
    // when the oldest of them was handed over AStallMs or more ago and the
    // server has taken nothing for as long: a slow link that still drains
    // a long queue is no stall.
    bool Stalled(uint64_t AQueued, uint64_t ANowTick, uint64_t AStallMs);

private:
    uint64_t FTotal = 0;
    uint64_t FTaken = 0;
    uint64_t FTakenTick = 0; // when the server last took something
    // (bytes handed over in all, up to and including one send; its tick)
    std::deque<std::pair<uint64_t, uint64_t>> FMarks;
};
