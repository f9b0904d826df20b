#pragma once

#include <cstddef>
#include <map>
#include <string>

// "type" -> sizeof, "type.field" -> offsetof, for the records listed in
// OggVorbisLayoutFields.inc and the FLAC status constants: once as the libraries' -dev headers declare
// them, once as the codec module declares them for itself.
std::map<std::string, size_t> HeaderLayouts();
std::map<std::string, size_t> DeclaredLayouts();
