#include "codecs/FlacApi.h"
#include "codecs/OggOpusApi.h"
#include "codecs/OggVorbisApi.h"

#include "LibraryLayouts.h"

std::map<std::string, size_t> DeclaredLayouts()
{
#include "LayoutEntries.inc"
}
