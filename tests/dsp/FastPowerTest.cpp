#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/FastPower.h"

// Close to std::pow from 1 up to the largest float, whose peaks the
// compressor can meet, and for a few other exponents and ranges.
TEST(FastPower, WithinOneBillionthOfPow)
{
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> dense(1.0, 16.0), exponent2(-10.0, 128.0);
    for (const double a : {-0.66, 0.5, -2.0, 1.0 / 3}) {
        std::vector<double> x(1 << 16);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = i % 2 ? dense(rng) : std::exp2(exponent2(rng));
        x[0] = 1.0;
        x[2] = std::sqrt(0.5);
        x[4] = 3.4028234663852886e38;
        std::vector<double> y = x;
        FastPow(y.data(), static_cast<int>(y.size()), a);
        double worst = 0;
        for (size_t i = 0; i < x.size(); ++i)
            worst = std::max(worst, std::fabs(y[i] / std::pow(x[i], a) - 1));
        // The error is that of the exponent times log2(x).
        EXPECT_LT(worst, 1e-9 * std::max(1.0, std::fabs(a))) << "exponent " << a;
        EXPECT_EQ(y[0], 1.0) << "exactly 1 at 1";
    }
}
