#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

// First-in first-out bytes between the driver and the links of one port. No cap of
// its own. The bytes live in fixed blocks; once the queue empties it keeps one block
// and gives the rest of its storage back, so a backlog that drained costs nothing.
class ByteQueue {
public:
    bool IsEmpty() const { return Count == 0; }
    size_t Size() const { return Count; }
    // Copies the first `count` bytes (at most Size()) to `out`; they stay queued.
    void CopyFront(uint8_t* out, size_t count) const;
    // Removes the first `count` bytes (at most Size()).
    void RemoveFront(size_t count);
    void Append(const uint8_t* data, size_t count);
    // Bytes of storage the queue holds, used or not.
    size_t Capacity() const { return Blocks.size() * BlockSize; }

    static constexpr size_t BlockSize = 16384;

private:
    void Release();

    std::deque<std::unique_ptr<uint8_t[]>> Blocks;
    size_t Head = 0;  // offset of the first byte in the first block
    size_t Count = 0; // bytes queued, from Head on
    size_t Peak = 0;  // most storage held since the queue last emptied
};
