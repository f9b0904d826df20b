#pragma once

#include <string>

// A client of Qt's VNC platform plugin (QT_QPA_PLATFORM=vnc:port=N), the
// one way to press a button of a program whose window has no command-line
// options. Speaks RFB 3.3 with no authentication, as that server does.
class TVncPointer {
public:
    // Connects to 127.0.0.1:APort, waiting up to ATimeoutMs for the server;
    // throws when the handshake fails.
    TVncPointer(int APort, int ATimeoutMs);
    ~TVncPointer();
    TVncPointer(const TVncPointer&) = delete;
    TVncPointer& operator=(const TVncPointer&) = delete;

    // The screen size the server announced.
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Left button down and up at the screen point.
    void Click(int AX, int AY);

private:
    void SendPointer(int AButtons, int AX, int AY);
    int FSocket = -1;
    int FWidth = 0;
    int FHeight = 0;
};
