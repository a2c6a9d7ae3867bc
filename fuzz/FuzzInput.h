#pragma once
// What the fuzz targets share: the fuzzer's bytes read as a little program, and a
// check that stops the run with a message whatever the build type (assert would
// vanish under NDEBUG).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define QLN_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: does not hold: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace qlnfuzz {

// Reads the input front to back; past its end every read gives zeros and empty spans.
class Input {
public:
    Input(const uint8_t* data, size_t size) : Data(data), Size(size) {}

    bool Empty() const { return At >= Size; }
    size_t Left() const { return Size - At; }

    uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t Long() { return Word() | static_cast<uint32_t>(Word()) << 16; }

    // The next `count` bytes, fewer at the end.
    std::vector<uint8_t> Bytes(size_t count)
    {
        count = std::min(count, Left());
        std::vector<uint8_t> out(Data + At, Data + At + count);
        At += count;
        return out;
    }
    // A length byte, then that many bytes.
    std::vector<uint8_t> Span() { return Bytes(Byte()); }
    std::string Text() { return ToText(Span()); }
    // Up to the next `stop` byte (taken, not returned), or to the end.
    std::string TextUntil(uint8_t stop)
    {
        std::string out;
        while (At < Size && Data[At] != stop)
            out += static_cast<char>(Data[At++]);
        if (At < Size)
            ++At;
        return out;
    }
    std::string Rest() { return ToText(Bytes(Left())); }

    static std::string ToText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

private:
    const uint8_t* Data;
    size_t Size;
    size_t At = 0;
};

} // namespace qlnfuzz
