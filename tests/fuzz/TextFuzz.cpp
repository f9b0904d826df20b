#include "net/WireText.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

bool ValidUtf8(const std::string& AText)
{
    std::u32string points;
    return DecodeUtf8(AText, points);
}

} // namespace

// The text helpers on any bytes, with the promises each one makes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TFuzzInput input(AData, ASize);
    const size_t limit = input.Byte();
    const std::string text = input.Rest();

    std::u32string points;
    if (DecodeUtf8(text, points))
        FUZZ_CHECK(EncodeUtf8(points) == text);
    const std::string fromCodePage = Windows1252ToUtf8(text);
    FUZZ_CHECK(ValidUtf8(fromCodePage));
    FUZZ_CHECK(Utf8ToWindows1252(fromCodePage).size() == text.size());
    FUZZ_CHECK(Utf8ToWindows1252(text).size() <= text.size());

    const std::string prefix = Utf8Prefix(text, limit);
    FUZZ_CHECK(prefix.size() <= limit && text.compare(0, prefix.size(), prefix) == 0);
    if (ValidUtf8(text))
        FUZZ_CHECK(ValidUtf8(prefix));
    const std::string line = PrintableLine(text, limit + 3);
    FUZZ_CHECK(line.size() <= limit + 3);
    for (const char c : line)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && c != 127);

    for (const std::string& wire : {UrlEncodeUtf8(text), Base64Encode(text)})
        for (const char c : wire)
            FUZZ_CHECK(static_cast<unsigned char>(c) > 32 && static_cast<unsigned char>(c) < 127);
    for (const char c : HeaderValueUtf8(text))
        FUZZ_CHECK((static_cast<unsigned char>(c) >= 32 || c == '\t') && c != 127);
    const std::string repaired = RepairMojibake(text);
    if (ValidUtf8(text))
        FUZZ_CHECK(ValidUtf8(repaired));
    const std::string cleaned = CleanSongTitle(text);
    FUZZ_CHECK(cleaned.size() <= text.size() + 16);
    const std::string shown = ShownUrl(text);
    FUZZ_CHECK(shown.size() <= text.size() + 3);
    NormalizeMount(text);
    HostAndPort(text, 8000);
    return 0;
}
