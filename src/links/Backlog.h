#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// What a link keeps of the port's chunks while it has no peer to give them to, so
// that one link that is down never holds the others: the chunks in order, each whole
// (a UDP link sends each as one datagram), and how far the front one has gone out.
//
// Bounded: a chunk that does not fit drops the oldest whole chunks before it, and the
// bytes dropped are counted, all told and for the outage under way.
class Backlog {
public:
    // As much as waits for the application at most before TCP peers are held.
    static constexpr size_t Bound = 256 * 1024;

    bool Empty() const { return Chunks.empty(); }
    // Bytes still to go out.
    size_t Bytes() const { return Size; }
    bool Fits(size_t count) const { return Size + count <= Bound; }

    // Keeps `count` bytes as one chunk behind the others, dropping the oldest while
    // they do not fit. Returns the bytes dropped for it.
    size_t Keep(const uint8_t* data, size_t count);
    // The front chunk's bytes still to go, and taking `count` of them (gone out).
    const uint8_t* Front() const { return Chunks.front().data() + FrontTaken; }
    size_t FrontLength() const { return Chunks.front().size() - FrontTaken; }
    void Consume(size_t count);
    // Drops everything; returns the bytes dropped.
    size_t Discard();
    // Moves `other`'s chunks and counts into this empty backlog (an edited link).
    void TakeFrom(Backlog& other);

    // Bytes dropped since the link was made, and since it last had a peer.
    uint64_t Dropped = 0;
    uint64_t DroppedInOutage = 0;

private:
    std::deque<std::vector<uint8_t>> Chunks;
    size_t FrontTaken = 0;
    size_t Size = 0;
};
