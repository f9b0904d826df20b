#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

// A fuzzer's bytes taken apart: a few choices up front, the rest as text.
class TFuzzInput {
public:
    TFuzzInput(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize) {}
    uint8_t Byte() { return FAt < FSize ? FData[FAt++] : 0; }
    // Up to AMax bytes, ended early by a zero byte (which is dropped).
    std::string Piece(size_t AMax)
    {
        std::string out;
        while (FAt < FSize && out.size() < AMax) {
            const char c = static_cast<char>(FData[FAt++]);
            if (c == 0)
                break;
            out += c;
        }
        return out;
    }
    std::string Rest()
    {
        std::string out(reinterpret_cast<const char*>(FData + FAt), FSize - FAt);
        FAt = FSize;
        return out;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FAt = 0;
};

// A folder of this process's own for the files a harness writes, in
// $TMPDIR (run-fuzzer points it into its own work folder), removed at exit.
struct TScratchFolder {
    std::string Path;
    ~TScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
};

inline const std::string& ScratchFolder()
{
    static const TScratchFolder folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavix-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return TScratchFolder{pattern};
    }();
    return folder.Path;
}

// A broken promise is a crash the fuzzer keeps, like any other.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);      \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
