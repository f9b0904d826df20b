#pragma once

#include <chrono>
#include <functional>

#include <pulse/context.h>
#include <pulse/mainloop.h>

// A connection to the sound server on a main loop that this object runs in
// the caller's own thread, a slice at a time, so every wait has a deadline:
// libpulse's own waits have none, and a server that accepts the socket and
// never answers would hold the caller for good.
class TSoundServerConnection {
public:
    using TClock = std::chrono::steady_clock;

    TSoundServerConnection();
    ~TSoundServerConnection();
    TSoundServerConnection(const TSoundServerConnection&) = delete;
    TSoundServerConnection& operator=(const TSoundServerConnection&) = delete;

    // The default server (PULSE_SERVER honoured), never spawning one. False
    // when it did not become ready by ADeadline.
    bool Connect(TClock::time_point ADeadline);
    // Runs the loop until ADone() holds (true), the connection fails or
    // ADeadline passes (false).
    bool RunUntil(const std::function<bool()>& ADone, TClock::time_point ADeadline);
    bool Failed() const;
    // The library's error code of the last failure (PA_ERR_*).
    int Error() const;
    pa_context* Context() const { return FContext; }

private:
    pa_mainloop* FLoop = nullptr;
    pa_context* FContext = nullptr;
    pa_context_state_t FState = PA_CONTEXT_UNCONNECTED;
};
