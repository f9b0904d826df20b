#include "services/ListenerStats.h"
#include "tests/fuzz/FuzzInput.h"

// Statistics pages from a server nobody vouches for: Icecast's JSON (and
// its broken forms), SHOUTcast's XML and its /7.html line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TFuzzInput input(AData, ASize);
    const std::string mount = "/" + input.Piece(16);
    const std::string page = input.Rest();
    for (const int32_t count : {IcecastMountListeners(page, mount), ExtractJsonNumber(page, "listeners"),
                                ExtractTagNumber(page, "CURRENTLISTENERS"), ParseSevenHtml(page)})
        FUZZ_CHECK(count >= -1);
    FUZZ_CHECK(ExtractHost(page).size() <= page.size());
    return 0;
}
