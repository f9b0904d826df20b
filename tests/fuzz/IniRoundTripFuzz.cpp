#include "platform/Text.h"
#include "settings/IniFile.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

bool Storable(const std::string& AValue)
{
    if (AValue.size() > 2047 || AValue.find_first_of("\r\n") != std::string::npos)
        return false;
    if (!AValue.empty() && (static_cast<unsigned char>(AValue.front()) <= 32 ||
                            static_cast<unsigned char>(AValue.back()) <= 32))
        return false;
    return !(AValue.size() >= 2 && (AValue.front() == '"' || AValue.front() == '\'') && AValue.back() == AValue.front());
}

bool Name(const std::string& AText)
{
    if (AText.empty() || AText.find_first_of("[]=;\r\n") != std::string::npos)
        return false;
    return static_cast<unsigned char>(AText.front()) > 32 && static_cast<unsigned char>(AText.back()) > 32;
}

} // namespace

// Any file read, then one key written: the value reads back as written,
// and the rest of what the file said is still said.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TFuzzInput input(AData, ASize);
    const std::string section = input.Piece(12), key = input.Piece(12), value = input.Piece(64);
    const std::string other = input.Piece(12);
    const std::string file = input.Rest();
    const std::string path = ScratchFolder() + "/TavixEncoder.ini";
    {
        FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), out);
        std::fclose(out);
    }
    TIniFile before(path);
    const bool readable = before.Load();
    if (readable && Name(section) && Name(key) && Storable(value)) {
        const std::string untouched = before.ReadString(section, other, "\x01");
        const bool written = TIniFile(path).Write({{section, key, value}});
        FUZZ_CHECK(written);
        TIniFile after(path);
        FUZZ_CHECK(after.Load());
        FUZZ_CHECK(after.ReadString(section, key, "\x01") == value);
        if (!SameTextAscii(other, key))
            FUZZ_CHECK(after.ReadString(section, other, "\x01") == untouched);
    }
    unlink(path.c_str());
    return 0;
}
