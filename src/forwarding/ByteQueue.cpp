#include "forwarding/ByteQueue.h"

#include <algorithm>

void ByteQueue::CopyFront(uint8_t* out, size_t count) const
{
    count = std::min(count, Bytes.size());
    std::copy_n(Bytes.begin(), count, out);
}

void ByteQueue::RemoveFront(size_t count)
{
    count = std::min(count, Bytes.size());
    Bytes.erase(Bytes.begin(), Bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

void ByteQueue::Append(const uint8_t* data, size_t count)
{
    Bytes.insert(Bytes.end(), data, data + count);
}
