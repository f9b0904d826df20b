#include <gtest/gtest.h>

#include "ui/Marquee.h"

namespace {

constexpr int KStrip = 300;

TMarquee FixedPitch()
{
    TMarquee m([](const std::string& AText) { return 7 * int(AText.size()); });
    m.SetStripWidth(KStrip);
    return m;
}

} // namespace

TEST(Marquee, ScrollsReentersAndRestartsOnlyForANewText)
{
    TMarquee m = FixedPitch();
    m.Show("abcd"); // padded: 10 characters, 70 pixels
    EXPECT_EQ(m.DisplayText(), "   abcd   ");
    EXPECT_EQ(m.X(), KStrip);
    m.Step();
    EXPECT_EQ(m.X(), KStrip - 3);
    // Leaves the strip on the left once x + 70 < 0, then re-enters.
    int steps = 1;
    while (m.X() != KStrip && steps < 1000) {
        EXPECT_GE(m.X() + 70, -3);
        m.Step();
        ++steps;
    }
    EXPECT_EQ(steps, (KStrip + 70) / 3 + 1);

    m.Step();
    m.Show("abcd");
    EXPECT_EQ(m.X(), KStrip - 3) << "the same text goes on";
    m.Show("abcde");
    EXPECT_EQ(m.X(), KStrip) << "a new text starts from the right";
}
