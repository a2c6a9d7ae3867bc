// Implements ByteQueue.
#include "forwarding/ByteQueue.h"

#include <algorithm>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Storage freed at once above which the queue asks the allocator to hand free
// pages back to the system; below it the allocator's own trimming is enough.
constexpr size_t TrimAbove = 1024 * 1024;

} // namespace

void ByteQueue::CopyFront(uint8_t* out, size_t count) const
{
    count = std::min(count, Count);
    size_t offset = Head;
    for (size_t block = 0; count > 0; ++block, offset = 0) {
        size_t n = std::min(count, BlockSize - offset);
        std::memcpy(out, Blocks[block].get() + offset, n);
        out += n;
        count -= n;
    }
}

void ByteQueue::RemoveFront(size_t count)
{
    count = std::min(count, Count);
    Count -= count;
    Head += count;
    if (Count == 0) {
        Release();
        return;
    }
    while (Head >= BlockSize) {
        Blocks.pop_front();
        Head -= BlockSize;
    }
}

void ByteQueue::Append(const uint8_t* data, size_t count)
{
    while (count > 0) {
        size_t end = Head + Count;
        if (end == Capacity())
            Blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(BlockSize));
        size_t offset = end % BlockSize;
        size_t n = std::min(count, BlockSize - offset);
        std::memcpy(Blocks[end / BlockSize].get() + offset, data, n);
        data += n;
        count -= n;
        Count += n;
    }
    Peak = std::max(Peak, Capacity());
}

void ByteQueue::Release()
{
    Head = 0;
    if (Blocks.size() > 1) {
        Blocks.resize(1);
        Blocks.shrink_to_fit();
    }
#ifdef __GLIBC__
    // The blocks were freed, but the allocator keeps free pages between blocks
    // still in use elsewhere; without this a drained backlog stays resident.
    if (Peak > TrimAbove)
        malloc_trim(0);
#endif
    Peak = Capacity();
}
