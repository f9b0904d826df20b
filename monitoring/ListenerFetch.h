#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
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
// AIcy), or until AMaxBytes came: a server sending as fast as it can must
// not fill the memory. Ends early once AStop is set. ATrust as for HttpGet.
TListened ListenTo(const std::string& AUrl, bool AIcy, int AListenMs, const std::atomic<bool>& AStop,
                   const THttpTrust* ATrust, size_t AMaxBytes);
// What a listening of AListenMs keeps at most of a stream of AKbps (0: a
// lossless stream of 48 kHz stereo): four times what it should carry, at
// most 16 MiB.
size_t ListeningCap(int32_t AKbps, int AListenMs);
