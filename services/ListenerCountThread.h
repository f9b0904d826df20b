#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Thread.h"
#include "settings/EncoderConfig.h"

class TTavixListenerCountThread;

// Count -1 means no count; ErrorText then says why.
using TListenerCountEvent =
    std::function<void(TTavixListenerCountThread* Sender, int32_t Count, const std::string& ErrorText)>;

// Asks the streaming server once for its number of listeners and reports it
// on the user-interface thread through OnResult. Frees itself when done.
class TTavixListenerCountThread : public TThread {
public:
    explicit TTavixListenerCountThread(const TEncoderConfig& AConfig);
    ~TTavixListenerCountThread() override;

    // Assigned before Start. Not called once the worker has been told to
    // terminate.
    TListenerCountEvent OnResult;

protected:
    void Execute() override;

private:
    TEncoderConfig FConfig;
    int32_t FCount = -1;
    std::string FErrorText;
};

struct THttpTrust;
// The body of one GET of AUrl as 8-bit text; empty on any failure. An
// https server must satisfy ATrust when one is given.
std::string HttpGetText(const std::string& AUrl, const THttpTrust* ATrust = nullptr);
// The listener count of the server in AConfig; -1 with AErrorText set to
// "sem servidor" (no host) or "indisponivel" (no count) otherwise. Over
// https when the server is set to TLS.
int32_t QueryListenerCount(const TEncoderConfig& AConfig, std::string& AErrorText);
