#include "tests/packaging/VncPointer.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void ReadExactly(int ASocket, void* ABuffer, size_t ASize)
{
    auto* bytes = static_cast<unsigned char*>(ABuffer);
    size_t done = 0;
    while (done < ASize) {
        pollfd p{ASocket, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            throw std::runtime_error("VNC server went silent");
        const ssize_t n = recv(ASocket, bytes + done, ASize - done, 0);
        if (n <= 0)
            throw std::runtime_error("VNC server closed the connection");
        done += static_cast<size_t>(n);
    }
}

void WriteAll(int ASocket, const void* ABytes, size_t ASize)
{
    if (send(ASocket, ABytes, ASize, MSG_NOSIGNAL) != static_cast<ssize_t>(ASize))
        throw std::runtime_error("VNC server took no input");
}

uint32_t BigEndian32(const unsigned char* AP)
{
    return (uint32_t(AP[0]) << 24) | (uint32_t(AP[1]) << 16) | (uint32_t(AP[2]) << 8) | AP[3];
}

} // namespace

TVncPointer::TVncPointer(int APort, int ATimeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(APort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (;;) {
        FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            break;
        close(FSocket);
        FSocket = -1;
        if (std::chrono::steady_clock::now() > until)
            throw std::runtime_error("no VNC server on port " + std::to_string(APort));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    try {
        char version[12];
        ReadExactly(FSocket, version, sizeof version);
        if (std::string(version, 4) != "RFB ")
            throw std::runtime_error("not a VNC server");
        WriteAll(FSocket, "RFB 003.003\n", 12);
        unsigned char security[4];
        ReadExactly(FSocket, security, sizeof security);
        if (BigEndian32(security) != 1)
            throw std::runtime_error("VNC server wants authentication");
        const unsigned char shared = 1;
        WriteAll(FSocket, &shared, 1);
        // Width, height, a 16-byte pixel format and the desktop's name.
        unsigned char init[24];
        ReadExactly(FSocket, init, sizeof init);
        FWidth = (init[0] << 8) | init[1];
        FHeight = (init[2] << 8) | init[3];
        std::string name(BigEndian32(init + 20), '\0');
        if (!name.empty())
            ReadExactly(FSocket, name.data(), name.size());
    } catch (...) {
        close(FSocket);
        throw;
    }
}

TVncPointer::~TVncPointer()
{
    if (FSocket >= 0)
        close(FSocket);
}

void TVncPointer::SendPointer(int AButtons, int AX, int AY)
{
    const unsigned char event[6] = {5, static_cast<unsigned char>(AButtons),
                                    static_cast<unsigned char>(AX >> 8), static_cast<unsigned char>(AX),
                                    static_cast<unsigned char>(AY >> 8), static_cast<unsigned char>(AY)};
    WriteAll(FSocket, event, sizeof event);
}

void TVncPointer::Click(int AX, int AY)
{
    // A move first: the button must see the pointer arrive before it is
    // pressed, as with a real mouse.
    SendPointer(0, AX, AY);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SendPointer(1, AX, AY);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SendPointer(0, AX, AY);
}
