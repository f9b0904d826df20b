#pragma once

#include <cstdint>

// Float samples (full scale +-1.0) to the 16-bit values the libraries take.
// Both clamp to [-1, 1] and round halves to even; NaN becomes silence.

// -1.0 gives -32767 (symmetric scale).
int16_t FloatToAacSample(float AValue);
// -1.0 and below give -32768; the rest scales by 32767.
int32_t FloatToFlacSample(float AValue);
