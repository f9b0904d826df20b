#pragma once

#include <cstdint>
#include <string>

// The program's own listener checks are listeners too, as far as a server
// counts them: the listener count takes them out again. Process-wide.
class TOwnListener {
public:
    // Counts one listener of the program's own of AMount ("/stream") at
    // AHost:APort while it lives.
    TOwnListener(std::string AHost, int32_t APort, std::string AMount);
    ~TOwnListener();
    TOwnListener(const TOwnListener&) = delete;
    TOwnListener& operator=(const TOwnListener&) = delete;

private:
    std::string FHost;
    int32_t FPort;
    std::string FMount;
};

// How many of the program's own listeners of AMount are at AHost:APort
// right now; of any mount there when AMount is empty (a server that counts
// all its listeners together).
int32_t OwnListenersAt(const std::string& AHost, int32_t APort, const std::string& AMount);
