#pragma once

#include <cstdint>

#include <lame/lame.h>

// Opens a constant-bitrate LAME encoder: same input and output rate (no
// resampling), the given channel count and bitrate, quality 2. nullptr
// when LAME refuses the parameters; the caller owns the handle and ends it
// with lame_close. The caller encodes with
// lame_encode_buffer_interleaved_ieee_float and flushes with
// lame_encode_flush into a buffer of Mp3BufferSize(frames) bytes.
lame_global_flags* OpenMp3Encoder(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps);

// Output buffer for one block: Round(1.25 * AFrames) + 7200 bytes.
int32_t Mp3BufferSize(int32_t AFrames);
