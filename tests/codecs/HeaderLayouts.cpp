// Compiled against the libraries' own headers (test build only).
#include <FLAC/stream_encoder.h>
#include <opusenc.h>
#include <vorbis/codec.h>

#include "LibraryLayouts.h"

std::map<std::string, size_t> HeaderLayouts()
{
#include "LayoutEntries.inc"
}
