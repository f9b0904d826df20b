#pragma once

#include <cstdint>

#include <lame/lame.h>

#include "settings/CodecIds.h"

// Opens a constant-bitrate LAME encoder: same input and output rate (no
// resampling), the given channel count and bitrate (LAME picks the nearest
// valid one), quality 2. nullptr when LAME refuses the parameters or would
// have to resample (a rate MP3 cannot carry). The caller owns the handle
// and ends it with lame_close; it encodes each block with EncodeMp3Block
// and flushes with lame_encode_flush into a buffer of
// Mp3BufferSize(frames) bytes.
lame_global_flags* OpenMp3Encoder(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps,
                                  int32_t AQuality = KDefaultMp3Quality);

// One block of interleaved floats (full scale +-1.0) into ABuffer; LAME's
// result: negative on failure, else the byte count. Stereo goes through
// lame_encode_buffer_interleaved_ieee_float. That call always reads two
// interleaved channels, so a mono block would be read past its end; mono
// goes through lame_encode_buffer_ieee_float instead.
int EncodeMp3Block(lame_global_flags* ALame, const float* APcm, int32_t AFrames,
                   unsigned char* ABuffer, int32_t ABufferSize);

// Output buffer for one block: Round(1.25 * AFrames) + 7200 bytes.
int32_t Mp3BufferSize(int32_t AFrames);
