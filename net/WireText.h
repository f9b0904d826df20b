#pragma once

#include <string>

// Text (UTF-8) to the bytes that go on the wire, and the two rules that
// judge a server's answer to a source login. Pure functions.

std::string HeaderValueUtf8(const std::string& AText);
std::string Base64Encode(const std::string& ABytes);
std::string UrlEncodeUtf8(const std::string& AText);
std::string RepairMojibake(const std::string& AText);
std::string CleanSongTitle(const std::string& AText);
std::string NormalizeMount(const std::string& AText);
// "host:port" for a Host header or an address, an IPv6 literal in brackets.
std::string HostAndPort(const std::string& AHost, int APort);
bool IsIcecastSourceAccepted(const std::string& AAnswer);
bool IsShoutcastSourceAccepted(const std::string& AAnswer);
