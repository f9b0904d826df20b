#include "codecs/Lame.h"

#include <cmath>

lame_global_flags* OpenMp3Encoder(int32_t AChannels, int32_t ASampleRate, int32_t ABitrateKbps)
{
    lame_global_flags* lame = lame_init();
    if (!lame)
        return nullptr;
    lame_set_in_samplerate(lame, ASampleRate);
    lame_set_out_samplerate(lame, ASampleRate);
    lame_set_num_channels(lame, AChannels);
    lame_set_brate(lame, ABitrateKbps);
    lame_set_quality(lame, 2);
    lame_set_VBR(lame, vbr_off);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return nullptr;
    }
    return lame;
}

int32_t Mp3BufferSize(int32_t AFrames)
{
    return static_cast<int32_t>(std::nearbyint(1.25 * AFrames)) + 7200;
}
