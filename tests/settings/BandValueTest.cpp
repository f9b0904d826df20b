#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "settings/BandValue.h"

TEST(BandValue, CommaLocaleWritesAndReadsCommaOnly)
{
    EXPECT_EQ(FormatBandValue(2.5, ','), "2,5");
    EXPECT_EQ(FormatBandValue(0.0, ','), "0");
    EXPECT_EQ(FormatBandValue(-12.0, ','), "-12");
    double v = 99;
    EXPECT_TRUE(ParseBandValue("2,5", ',', v));
    EXPECT_DOUBLE_EQ(v, 2.5);
    v = 99;
    EXPECT_FALSE(ParseBandValue("2.5", ',', v)) << "a point is no decimal separator under a comma locale";
    EXPECT_EQ(v, 99) << "a failed parse leaves the value alone";
    EXPECT_FALSE(ParseBandValue("2,5", '.', v));
}

TEST(BandValue, RejectsWhatIsNotAPlainFiniteNumber)
{
    double v = 7;
    for (const char* bad : {"", "abc", "2,5x", "nan", "inf", "-inf", "1e400", "+-1", "++1", "+"})
        EXPECT_FALSE(ParseBandValue(bad, '.', v)) << bad;
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(ParseBandValue("+3", '.', v));
    EXPECT_DOUBLE_EQ(v, 3);
    EXPECT_TRUE(ParseBandValue("-1.5e1", '.', v));
    EXPECT_DOUBLE_EQ(v, -15);
}

TEST(BandValue, FifteenSignificantDigitsSurviveTheRoundTrip)
{
    for (double x : {1.0 / 3.0, -11.123456789012345, 1e-7, 12.0, 0.1}) {
        char expected[64];
        std::snprintf(expected, sizeof(expected), "%.15g", x);
        const std::string text = FormatBandValue(x, ',');
        double back = 0;
        ASSERT_TRUE(ParseBandValue(text, ',', back)) << text;
        EXPECT_EQ(back, std::strtod(expected, nullptr)) << text;
    }
}
