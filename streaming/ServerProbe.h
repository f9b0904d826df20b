#pragma once

#include <cstdint>
#include <string>

#include "net/Connection.h"

// Whether the server still answers at all. A frozen server's kernel goes
// on taking the stream into its buffers, so the send queue says nothing
// for a long while at low bitrates; a small request on a connection of
// its own, every few seconds, is answered by anything alive (even an
// error page or a close) and by nothing frozen or cut off. Never blocks:
// the output calls it after each send.
class TServerProbe {
public:
    ~TServerProbe();
    // After each login: probes AAddr from now on with ARequest, a whole
    // request the server answers without taking it for an error (it lands
    // in the server's logs every few seconds).
    void Start(const TPeerAddress& AAddr, uint64_t ANowTick, std::string ARequest);
    // No more probes until the next Start.
    void Close();
    // True when nothing has answered for AStallMs, though a probe has been
    // waiting long enough that a short stall cannot explain it.
    bool Stalled(uint64_t ANowTick, uint64_t AStallMs);

private:
    void Begin(uint64_t ANowTick);
    void Step(uint64_t ANowTick);
    void Drop();

    TPeerAddress FAddr;
    std::string FRequest;
    bool FArmed = false;
    int FFd = -1;
    bool FSent = false;
    uint64_t FStartTick = 0;  // of the probe in flight, or of the last one
    uint64_t FAnswerTick = 0; // when the server last answered
};
