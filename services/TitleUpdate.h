#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/Connection.h"
#include "settings/EncoderConfig.h"

// How one title update ended.
struct TTitleOutcome {
    // Nothing was sent: no title, or settings no update can work with.
    bool Skipped = false;
    bool Accepted = false;
    // The mount takes no titles by this request (icecast2 says so for an
    // Ogg mount, whose titles travel in the stream).
    bool NotTaken = false;
    // Why it was not accepted, in the operator's words.
    std::string Why;
};

// Pushes ATitle to the server's admin interface on the calling thread:
// Icecast's /admin/metadata as the source user and, when refused, as
// "admin"; SHOUTcast's /admin.cgi. Bounded by the connection's time-outs;
// AStopped, or a Shutdown of AConnection from another thread, ends it at
// once.
TTitleOutcome SendTitleUpdate(const TEncoderConfig& AConfig, const std::string& ATitle, TConnection& AConnection,
                              const std::function<bool()>& AStopped = {});

// One output's title updates, one at a time and in order on a thread of
// its own: a title given while one is being sent waits, and a newer one
// replaces it. Each outcome goes to the report, on that thread.
class TTitlePublisher {
public:
    using TReport = std::function<void(const std::string& ATitle, const TTitleOutcome& AOutcome)>;

    explicit TTitlePublisher(TReport AReport);
    // Ends the update under way at once.
    ~TTitlePublisher();
    TTitlePublisher(const TTitlePublisher&) = delete;
    TTitlePublisher& operator=(const TTitlePublisher&) = delete;

    // Any thread; never waits for the server. AUnlessIcecast: not to
    // icecast2 itself (asked once, by its pages' Server header).
    void Publish(const TEncoderConfig& AConfig, const std::string& ATitle, bool AUnlessIcecast = false);
    // True while an update is waiting or being sent.
    bool Busy() const;

private:
    void Run();
    bool IcecastItself(const TEncoderConfig& AConfig);

    TReport FReport;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    struct TRequest {
        TEncoderConfig Config;
        std::string Title;
        bool UnlessIcecast = false;
    };
    std::optional<TRequest> FNext; // under FLock
    bool FSending = false;                                        // under FLock
    std::atomic<bool> FEnding{false};
    TConnection FConnection; // the publisher's thread's, but for Shutdown
    std::optional<bool> FIcecast; // the publisher's thread's
    std::thread FThread;
};
