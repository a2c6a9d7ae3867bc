#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

// First-in first-out bytes between the driver and the links of one port. No cap.
class ByteQueue {
public:
    bool IsEmpty() const { return Bytes.empty(); }
    size_t Size() const { return Bytes.size(); }
    // Copies the first `count` bytes (at most Size()) to `out`; they stay queued.
    void CopyFront(uint8_t* out, size_t count) const;
    // Removes the first `count` bytes (at most Size()).
    void RemoveFront(size_t count);
    void Append(const uint8_t* data, size_t count);

private:
    std::deque<uint8_t> Bytes;
};
