#pragma once

#include <curl/curl.h>
#include <functional>
#include <string>
#include <string_view>

// Limits of one HTTP request. A zero total means none.
struct THttpLimits {
    long ConnectMs;
    long StallMs;
    long TotalMs;
};

// Without limits of its own a request would wait for a silent server for
// ever; these stand in for the system defaults the services otherwise rely on.
inline constexpr THttpLimits kDefaultNetLimits{60000, 60000, 300000};

// Whom an https server must be: vouched for by the system's CA store for
// Host, or holding the pinned certificate. Without it curl's own checks apply.
struct THttpTrust {
    std::string Host;
    std::string PinnedFingerprint;
};

// How a request ended: the HTTP status (0 when none came) and, when it
// failed, why in words.
struct THttpOutcome {
    long Status = 0;
    std::string Failure;
};

// One GET of an http or https address, never answered from a cache. Every
// piece of the body goes to ASink in order (any HTTP status); ASink returns
// false to stop reading. False when the request failed or was cut short.
bool HttpGet(const std::string& AUrl, const std::string& AAgent, const THttpLimits& ALimits,
             const std::function<bool(std::string_view)>& ASink, const THttpTrust* ATrust = nullptr,
             THttpOutcome* AOutcome = nullptr);

// Only these two are fetched: anything else would fail at every request.
bool IsWebAddress(const std::string& AText);

// Puts ATrust's checks on a curl handle of the caller's (which must keep
// ATrust alive until the transfer is done).
void ApplyHttpTrust(CURL* ACurl, const THttpTrust& ATrust);
