#include "settings/EncoderConfig.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

std::string Slurp(const std::string& APath)
{
    std::string out;
    if (FILE* in = std::fopen(APath.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), in)) > 0;)
            out.append(buffer, n);
        std::fclose(in);
    }
    return out;
}

} // namespace

// Any settings file loads to settings that, saved and loaded again, stay
// what they were: nothing a file says can make a setting drift or vanish.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string base = ScratchFolder() + "/settings";
    const std::string given = base + "-given.ini", once = base + "-once.ini", twice = base + "-twice.ini";
    if (FILE* out = std::fopen(given.c_str(), "wb")) {
        std::fwrite(AData, 1, ASize, out);
        std::fclose(out);
    }
    TEncoderConfig loaded;
    LoadEncoderConfigFrom(given, loaded);
    if (SettingsLoadError(given).empty()) {
        unlink(once.c_str());
        unlink(twice.c_str());
        SaveEncoderConfigTo(once, loaded);
        TEncoderConfig again;
        LoadEncoderConfigFrom(once, again);
        SaveEncoderConfigTo(twice, again);
        FUZZ_CHECK(Slurp(once) == Slurp(twice));
    }
    for (const std::string& path : {given, once, twice})
        unlink(path.c_str());
    return 0;
}
