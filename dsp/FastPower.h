#pragma once

// x^a over arrays, as exp2(a * log2(x)) built from the bits of the numbers
// and two short series: within 1e-9 of std::pow (relative), which costs
// more than the rest of a compressed sample.

constexpr int KFastPowLanes = 16;

// AValues[i]^AExponent in place, for ACount a multiple of KFastPowLanes
// and positive normal (or infinite) values.
void FastPow(double* AValues, int ACount, double AExponent);
