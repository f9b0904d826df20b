#pragma once

#include <atomic>
#include <string>

#include "net/HttpGet.h"

// A few seconds of a stream, fetched as an ordinary listener's player does.
struct TListened {
    // Why nothing could be heard (no connection, an HTTP error...); empty
    // when the server answered with a stream.
    std::string Error;
    // The audio bytes, ICY metadata taken out.
    std::string Audio;
    // The ICY title, when the stream carried one.
    bool HasIcyTitle = false;
    std::string IcyTitle;
    // Seconds spent reading after the answer's headers.
    double Seconds = 0;
};

// Reads AUrl for AListenMs after its headers (asking for ICY metadata when
// AIcy). Ends early once AStop is set. ATrust as for HttpGet.
TListened ListenTo(const std::string& AUrl, bool AIcy, int AListenMs, const std::atomic<bool>& AStop,
                   const THttpTrust* ATrust);
