#include "monitoring/IcyMetadata.h"
#include "tests/fuzz/FuzzInput.h"

// A stream with ICY metadata as a server may send it: any interval, any
// blocks, cut into reads anywhere.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TFuzzInput input(AData, ASize);
    const size_t metaInt = (input.Byte() << 8 | input.Byte()) % 4097;
    const size_t readSize = 1 + input.Byte();
    const std::string stream = input.Rest();
    TIcyReader reader(metaInt);
    std::string audio;
    for (size_t at = 0; at < stream.size(); at += readSize)
        reader.Feed(std::string_view(stream).substr(at, readSize), audio);
    FUZZ_CHECK(audio.size() <= stream.size());
    if (metaInt == 0)
        FUZZ_CHECK(audio == stream);
    std::string title;
    if (ParseStreamTitle(stream, title))
        FUZZ_CHECK(title.size() < stream.size());
    return 0;
}
