#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/NativeEncoderThread.h"
#include "settings/EncoderConfig.h"

// A streaming worker whose thread body the test supplies, recording the
// status events it delivers. Without a body it is never started and the
// test calls its operations on the owner's thread.
class TWorkerProbe : public TNativeEncoderThread {
public:
    using TBody = std::function<void(TWorkerProbe&)>;

    explicit TWorkerProbe(const TEncoderConfig& AConfig, TBody ABody = {})
        : TNativeEncoderThread(AConfig), FBody(std::move(ABody))
    {
        OnOutput = [this](TNativeEncoderThread* Sender, int, const TOutputState& AState) {
            Senders.push_back(Sender);
            Statuses.emplace_back(AState.Text, IsErrorState(AState));
        };
    }
    ~TWorkerProbe() override
    {
        // The body lives in this object: it must be over before we go.
        if (!Finished())
            StopNow();
        Shutdown();
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> out;
        for (const auto& s : Statuses)
            out.push_back(s.first);
        return out;
    }

    // Filled on the owner's thread by the status handler.
    std::vector<std::pair<std::string, bool>> Statuses;
    std::vector<TNativeEncoderThread*> Senders;

protected:
    void Execute() override
    {
        if (FBody)
            FBody(*this);
    }

private:
    TBody FBody;
};

// Settings for a server on 127.0.0.1.
inline TEncoderConfig LoopbackConfig(int APort, const std::string& APassword = "hackme")
{
    TEncoderConfig c;
    DefaultEncoderConfig(c);
    c.Host = "127.0.0.1";
    c.Port = APort;
    c.Password = APassword;
    return c;
}
