#include "codecs/OggSerial.h"

#include <chrono>
#include <cstdint>
#include <random>

int NewOggSerial(int ALast)
{
    std::mt19937 gen(static_cast<uint32_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    const int serial = std::uniform_int_distribution<int>(0, 2147483646)(gen);
    return serial == ALast ? (serial + 1) % 2147483647 : serial;
}
