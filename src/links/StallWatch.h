#pragma once
#include <cstdint>

#include "platform/base/TickCount.h"

// The rule that one peer cannot hold the others: a connection that has taken
// nothing for a while when data waits for it (each chunk waits for every peer) is
// closed, and the others go on. "Taken" is what its socket accepted, so a peer that
// reads slowly is never closed; one that stopped reading, slept, or vanished is.
//
// One per connection; guarded by the manager lock.
class StallWatch {
public:
    // After the connection was offered a chunk: `waiting` whether part of it is
    // still not taken; `moved` the connection's count of bytes its socket took.
    void Note(bool waiting, uint64_t moved, int32_t now)
    {
        if (!waiting) {
            Waiting = false;
            return;
        }
        if (!Waiting || moved != Moved) {
            Waiting = true;
            Since = now;
            Moved = moved;
        }
    }
    // Whether it has held the data back for `limit` milliseconds.
    bool Expired(int32_t now, int32_t limit) const { return Waiting && TickElapsed(now, Since, limit); }
    // The tick at which it will have, while it holds data back.
    bool DueAt(int32_t limit, int32_t& tick) const
    {
        tick = TickAfter(Since, limit);
        return Waiting;
    }

private:
    bool Waiting = false;
    int32_t Since = 0;
    uint64_t Moved = 0;
};
