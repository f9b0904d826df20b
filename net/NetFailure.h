#pragma once

#include <curl/curl.h>
#include <string>

// A failed request told in the words the log and the window use for the
// streaming server's own failures, not in libcurl's English.
std::string NetFailureReason(CURLcode ACode);
