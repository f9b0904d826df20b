// The records and constants the codec modules declare for the
// run-time-loaded libraries must match the libraries' own headers.
#include <gtest/gtest.h>

#include "LibraryLayouts.h"

TEST(LibraryLayouts, OggVorbisFlacAndOpusDeclarationsMatchTheHeaders)
{
    const auto header = HeaderLayouts();
    const auto declared = DeclaredLayouts();
    ASSERT_GT(header.size(), 50u);
    for (const auto& [key, value] : header)
        EXPECT_EQ(declared.at(key), value) << key;
}
