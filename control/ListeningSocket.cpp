#include "control/ListeningSocket.h"

#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int KBacklog = 64;

int Listening(int ASocket)
{
    if (listen(ASocket, KBacklog) == 0)
        return ASocket;
    close(ASocket);
    return -1;
}

} // namespace

int ListenOnLoopback(int APort, std::string& AError)
{
    const std::string refusal = "A interface de controle nao conseguiu usar 127.0.0.1:" + std::to_string(APort) + ".";
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        AError = refusal;
        return -1;
    }
    // Not SO_REUSEPORT: a second copy of the program must be refused, not
    // take half the calls.
    const int yes = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(APort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(s);
        AError = refusal;
        return -1;
    }
    const int listening = Listening(s);
    if (listening < 0)
        AError = refusal;
    return listening;
}

int ListenOnPrivateSocket(const std::string& APath, std::string& AError)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (APath.empty() || APath.size() >= sizeof(address.sun_path) || APath.front() != '/') {
        AError = "Soquete de controle invalido (caminho absoluto de ate " +
                 std::to_string(sizeof(address.sun_path) - 1) + " bytes): " + APath + ".";
        return -1;
    }
    const std::string folder = std::filesystem::path(APath).parent_path().string();
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        AError = "A pasta do soquete de controle nao pode ser criada: " + folder + " (" + std::strerror(errno) + ").";
        return -1;
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 077) != 0) {
        AError = "A pasta do soquete de controle deve ser so do usuario do programa (0700): " + folder + ".";
        return -1;
    }
    // Left by a run that did not end cleanly; the folder is ours alone.
    if (lstat(APath.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            AError = "O caminho do soquete de controle ja e outro arquivo: " + APath + ".";
            return -1;
        }
        unlink(APath.c_str());
    }
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::memcpy(address.sun_path, APath.data(), APath.size());
    if (s < 0 || bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        AError = "A interface de controle nao conseguiu usar o soquete " + APath + " (" + std::strerror(errno) + ").";
        if (s >= 0)
            close(s);
        return -1;
    }
    chmod(APath.c_str(), 0600);
    const int listening = Listening(s);
    if (listening < 0)
        AError = "A interface de controle nao conseguiu usar o soquete " + APath + ".";
    return listening;
}
