#include "monitoring/StreamDecoder.h"
#include "tests/fuzz/FuzzInput.h"

// What a hostile server sends to the listener's ear, for each codec it may
// claim to carry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TFuzzInput input(AData, ASize);
    const TCodecKind kinds[] = {TCodecKind::Mp3, TCodecKind::OggVorbis, TCodecKind::AacPlus, TCodecKind::OggFlac,
                                TCodecKind::OggOpus};
    const TCodecKind kind = kinds[input.Byte() % 5];
    const TDecodedSample sample = DecodeStreamSample(kind, input.Rest());
    FUZZ_CHECK(sample.Seconds >= 0 && sample.Peak >= 0 && sample.Peak <= 1.0f + 1e-3f);
    FUZZ_CHECK(sample.Seconds > 0 || !sample.Error.empty());
    return 0;
}
