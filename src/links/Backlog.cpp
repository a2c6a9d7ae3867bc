// Implements Backlog: a link's chunks kept while it has no peer.
#include "links/Backlog.h"

#include <algorithm>

size_t Backlog::Keep(const uint8_t* data, size_t count)
{
    if (count == 0)
        return 0;
    count = std::min(count, Bound);
    size_t dropped = 0;
    while (!Fits(count)) {
        const size_t front = FrontLength();
        Chunks.pop_front();
        FrontTaken = 0;
        Size -= front;
        dropped += front;
    }
    Chunks.emplace_back(data, data + count);
    Size += count;
    Dropped += dropped;
    DroppedInOutage += dropped;
    return dropped;
}

void Backlog::Consume(size_t count)
{
    count = std::min(count, FrontLength());
    FrontTaken += count;
    Size -= count;
    if (FrontTaken == Chunks.front().size()) {
        Chunks.pop_front();
        FrontTaken = 0;
    }
}

size_t Backlog::Discard()
{
    const size_t dropped = Size;
    Chunks.clear();
    FrontTaken = 0;
    Size = 0;
    Dropped += dropped;
    return dropped;
}

void Backlog::TakeFrom(Backlog& other)
{
    Chunks = std::move(other.Chunks);
    FrontTaken = other.FrontTaken;
    Size = other.Size;
    Dropped += other.Dropped;
    DroppedInOutage = other.DroppedInOutage;
    other.Chunks.clear();
    other.FrontTaken = 0;
    other.Size = 0;
    other.DroppedInOutage = 0;
}
