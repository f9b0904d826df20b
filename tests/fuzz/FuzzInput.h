#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

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

// A broken promise is a crash the fuzzer keeps, like any other.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);      \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
