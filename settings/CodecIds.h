#pragma once

#include <cstdint>

#include <string>

// The codecs a settings file can name, whatever alias it uses.
enum class TCodecKind { None, Mp3, OggVorbis, AacPlus, OggFlac, OggOpus };

// LAME's quality unless a station asks for another (0 best ... 9 fastest).
inline constexpr int32_t KDefaultMp3Quality = 2;

// Canonical identifiers, as the settings dialog writes them.
inline constexpr const char* KCodecMp3 = "audio/mpeg";
inline constexpr const char* KCodecOggVorbis = "audio/ogg";
inline constexpr const char* KCodecAacPlus = "audio/aacp";
inline constexpr const char* KCodecOggFlac = "audio/flac";
inline constexpr const char* KCodecOggOpus = "audio/opus";

// Matches the eleven identifiers ignoring ASCII case, without trimming.
TCodecKind CodecKindFromId(const std::string& ACodec);

// Only "shoutcast" (any case) selects SHOUTcast; anything else is Icecast.
bool IsShoutcastServer(const std::string& AServerType);
