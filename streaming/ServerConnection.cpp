#include "streaming/NativeEncoderThread.h"

#include <sys/socket.h>
#include <unistd.h>

void TNativeEncoderThread::CloseConnection()
{
    const int64_t fd = FSocket.exchange(-1);
    if (fd == -1)
        return;
    shutdown(static_cast<int>(fd), SHUT_RDWR);
    close(static_cast<int>(fd));
}
