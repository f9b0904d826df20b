#include "streaming/NativeEncoderThread.h"

// Placeholder until the transmission loop lands: ends at once.
void TNativeEncoderThread::Execute()
{
    CloseConnection();
    if (Terminated())
        PostStatus("Parado.", false);
}
