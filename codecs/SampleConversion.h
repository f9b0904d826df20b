#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Float samples (full scale +-1.0) to the 16-bit values the libraries take.
// Both clamp to [-1, 1] and round halves to even; NaN becomes silence.

// -1.0 gives -32767 (symmetric scale).
int16_t FloatToAacSample(float AValue);
// -1.0 and below give -32768; the rest scales by 32767.
int32_t FloatToFlacSample(float AValue);

// A whole interleaved block of ACount samples, into AOut (resized to
// ACount; its storage is reused from block to block).
void ToAacSamples(const float* APcm, size_t ACount, std::vector<int16_t>& AOut);
void ToFlacSamples(const float* APcm, size_t ACount, std::vector<int32_t>& AOut);
// Floats clamped to [-1, 1], NaN as silence: the resampler and the Opus
// encoder take floats but carry a NaN on into the following samples.
void ToOpusSamples(const float* APcm, size_t ACount, std::vector<float>& AOut);
