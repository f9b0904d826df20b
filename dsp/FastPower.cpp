#include "dsp/FastPower.h"
#include "dsp/CpuClones.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

// Sixteen values go through at a time: the compiler splits them into
// registers whose independent chains of multiply-adds hide each other's
// latency. Only plain arithmetic and bit operations: comparisons on such
// wide vectors would be done one lane at a time.

namespace {

typedef double TLanes __attribute__((vector_size(8 * KFastPowLanes)));
typedef uint64_t TLaneBits __attribute__((vector_size(8 * KFastPowLanes)));

// The vectors go by reference: by value they would have an ABI that
// depends on the instruction set. Inlined, so that each instruction set
// of FastPow gets its own copy.

// Polynomial with the coefficients from the highest power down.
template <size_t N>
[[gnu::always_inline]] inline void Horner(const std::array<double, N>& ACoefs, const TLanes& AX, TLanes& ASum)
{
    ASum = TLanes{} + ACoefs[0];
#pragma GCC unroll 16
    for (size_t i = 1; i < N; ++i)
        ASum = ASum * AX + ACoefs[i];
}

// log2, in place, of positive normal (or infinite) values.
[[gnu::always_inline]] inline void FastLog2(TLanes& AX)
{
    // x = 2^e * m with m in [sqrt(1/2), sqrt(2)), so that the series below
    // needs only five terms. The 1024 offset keeps the shifted bits
    // positive, as SSE2 has no arithmetic 64-bit shift.
    constexpr uint64_t KSqrtHalf = 0x3fe6a09e667f3bcd;
    constexpr uint64_t KOffset = uint64_t{1024} << 52;
    const TLaneBits bits = reinterpret_cast<TLaneBits>(AX);
    const TLaneBits biased = (bits - KSqrtHalf + KOffset) >> 52; // e + 1024
    const TLanes m = reinterpret_cast<TLanes>(bits - (biased << 52) + KOffset);
    // An integer below 2^52 becomes a double by taking the place of the
    // mantissa of 2^52.
    constexpr uint64_t KTwo52 = 0x4330000000000000;
    const TLanes e = reinterpret_cast<TLanes>(biased | KTwo52) - (0x1p52 + 1024);

    // ln m = 2 atanh(s) with s = (m - 1) / (m + 1), |s| <= 0.1716: the
    // first omitted term is below 1e-9.
    constexpr std::array<double, 5> KAtanh = {1.0 / 9, 1.0 / 7, 1.0 / 5, 1.0 / 3, 1.0};
    constexpr double KTwoOverLn2 = 2.8853900817779268;
    const TLanes s = (m - 1.0) / (m + 1.0);
    TLanes series;
    Horner(KAtanh, s * s, series);
    AX = e + s * series * KTwoOverLn2;
}

// 2^y, in place, for y within the range of normal doubles.
[[gnu::always_inline]] inline void FastExp2(TLanes& AY)
{
    // Adding 1.5 * 2^52 rounds y to the integer n, which then sits in the
    // low bits; f = y - n is within +-0.5.
    constexpr double KRound = 0x1.8p52;
    const TLanes shifted = AY + KRound;
    const TLanes f = AY - (shifted - KRound);
    const TLaneBits n = reinterpret_cast<TLaneBits>(shifted) - std::bit_cast<uint64_t>(KRound);

    // e^g with g = f ln 2, |g| <= 0.347: Taylor to the 8th power, the
    // first omitted term is below 2e-10.
    constexpr std::array<double, 9> KExp = {1.0 / 40320, 1.0 / 5040, 1.0 / 720, 1.0 / 120,
                                            1.0 / 24,    1.0 / 6,    1.0 / 2,   1.0, 1.0};
    TLanes p;
    Horner(KExp, f * 0.69314718055994531, p);
    // Times 2^n: n added to the exponent field.
    AY = reinterpret_cast<TLanes>(reinterpret_cast<TLaneBits>(p) + (n << 52));
}

} // namespace

// With AVX2 the same arithmetic runs four lanes to an instruction.
TAVIX_CPU_CLONES
void FastPow(double* AValues, int ACount, double AExponent)
{
    for (int i = 0; i < ACount; i += KFastPowLanes) {
        TLanes v;
        std::memcpy(&v, AValues + i, sizeof v);
        FastLog2(v);
        v *= AExponent;
        FastExp2(v);
        std::memcpy(AValues + i, &v, sizeof v);
    }
}
