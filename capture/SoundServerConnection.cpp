#include "capture/SoundServerConnection.h"

#include <algorithm>
#include <climits>

#include <pulse/error.h>

TSoundServerConnection::TSoundServerConnection()
{
    FLoop = pa_mainloop_new();
    if (FLoop)
        FContext = pa_context_new(pa_mainloop_get_api(FLoop), "TAVIX Encoder");
    // Kept as it changes: asking the library each time costs a system call
    // (its check for a fork), many times a block.
    if (FContext)
        pa_context_set_state_callback(
            FContext,
            [](pa_context* AContext, void* ASelf) {
                static_cast<TSoundServerConnection*>(ASelf)->FState = pa_context_get_state(AContext);
            },
            this);
}

TSoundServerConnection::~TSoundServerConnection()
{
    if (FContext) {
        pa_context_disconnect(FContext);
        pa_context_unref(FContext);
    }
    if (FLoop)
        pa_mainloop_free(FLoop);
}

bool TSoundServerConnection::Connect(TClock::time_point ADeadline)
{
    if (!FContext || pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    return RunUntil([this] { return FState == PA_CONTEXT_READY; }, ADeadline);
}

bool TSoundServerConnection::RunUntil(const std::function<bool()>& ADone,
                                      TClock::time_point ADeadline)
{
    while (!ADone()) {
        if (Failed())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            ADeadline - TClock::now());
        if (left.count() <= 0)
            return false;
        // One poll at most as long as the time left; whatever arrives wakes it.
        const int timeout = static_cast<int>(std::min<int64_t>(left.count(), INT_MAX));
        if (pa_mainloop_prepare(FLoop, timeout) < 0 ||
            pa_mainloop_poll(FLoop) < 0 || pa_mainloop_dispatch(FLoop) < 0)
            return false;
    }
    return true;
}

bool TSoundServerConnection::Failed() const
{
    return !FContext || FState == PA_CONTEXT_FAILED || FState == PA_CONTEXT_TERMINATED;
}

int TSoundServerConnection::Error() const
{
    return FContext ? pa_context_errno(FContext) : PA_ERR_INTERNAL;
}
