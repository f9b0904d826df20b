#pragma once

#include <cstdint>
#include <string>

// Reading a listener count out of the statistics pages of Icecast and
// SHOUTcast. The bodies come from the network: any text is accepted and
// -1 means "no count in it".

// The first run of decimal digits anywhere after the first AKey (ASCII case
// ignored).
int32_t ExtractJsonNumber(const std::string& ABody, const std::string& AKey);
// The listeners of AMount (as the server names it, "/stream") in icecast's
// status-json.xsl: the source whose listenurl has that path, 0 when the
// server carries others but not it. Bodies that are no such page are read
// by the first "listeners" number, as older servers' pages need.
int32_t IcecastMountListeners(const std::string& ABody, const std::string& AMount);
// The integer between the first <AName> and the first </AName> after it
// (element name in any case), spaces around it allowed.
int32_t ExtractTagNumber(const std::string& ABody, const std::string& AName);
// The first comma-separated field of the legacy "/7.html" page: the
// current listeners.
int32_t ParseSevenHtml(const std::string& ABody);
// The host setting without a scheme ("http://") and without a path.
std::string ExtractHost(const std::string& AHost);
