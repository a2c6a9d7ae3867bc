#pragma once
// Test data: bytes that are not all alike, and every byte value once.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qlntest {

// `size` pseudo-random bytes; the same `seed` gives the same bytes.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1)
{
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

inline std::vector<uint8_t> AllByteValues()
{
    std::vector<uint8_t> out(256);
    for (int i = 0; i < 256; ++i)
        out[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return out;
}

} // namespace qlntest
