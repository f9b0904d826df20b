#pragma once

#include <cstdint>
#include <string>

// The program's own listener checks are listeners too, as far as a server
// counts them: the listener count takes them out again. Process-wide.
class TOwnListener {
public:
    // Counts one listener of the program's own at AHost:APort while it lives.
    TOwnListener(std::string AHost, int32_t APort);
    ~TOwnListener();
    TOwnListener(const TOwnListener&) = delete;
    TOwnListener& operator=(const TOwnListener&) = delete;

private:
    std::string FHost;
    int32_t FPort;
};

// How many of the program's own listeners are at AHost:APort right now.
int32_t OwnListenersAt(const std::string& AHost, int32_t APort);
