#include "codecs/Lame.h"

#include <cmath>

lame_global_flags* OpenMp3Encoder(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps, int32_t AQuality)
{
    lame_global_flags* lame = lame_init();
    if (!lame)
        return nullptr;
    lame_set_in_samplerate(lame, ASampleRate);
    lame_set_out_samplerate(lame, ASampleRate);
    lame_set_num_channels(lame, AChannels);
    lame_set_brate(lame, ABitrateKbps);
    lame_set_quality(lame, AQuality);
    lame_set_VBR(lame, vbr_off);
    // LAME quietly resamples a rate MP3 cannot carry; the stream is meant
    // to keep the capture rate, so that counts as a refusal too.
    if (lame_init_params(lame) < 0 || lame_get_out_samplerate(lame) != ASampleRate) {
        lame_close(lame);
        return nullptr;
    }
    return lame;
}

int EncodeMp3Block(lame_global_flags* ALame, const float* APcm, int32_t AFrames,
                   unsigned char* ABuffer, int32_t ABufferSize)
{
    if (lame_get_num_channels(ALame) == 1)
        return lame_encode_buffer_ieee_float(ALame, APcm, APcm, AFrames, ABuffer, ABufferSize);
    return lame_encode_buffer_interleaved_ieee_float(ALame, APcm, AFrames, ABuffer, ABufferSize);
}

int32_t Mp3BufferSize(int32_t AFrames)
{
    return static_cast<int32_t>(std::nearbyint(1.25 * AFrames)) + 7200;
}
