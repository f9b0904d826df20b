#pragma once

#include <cstdint>
#include <string>

// What a server output says a listener should find.
struct TOnAirState {
    bool LoggedIn = false;
    uint64_t LoginTick = 0;
    // The title last sent, and when (monotonic milliseconds).
    std::string Title;
    uint64_t TitleTick = 0;
    // The server certificate trusted now; the operator may trust one while
    // the output keeps trying.
    std::string PinnedFingerprint;
};
