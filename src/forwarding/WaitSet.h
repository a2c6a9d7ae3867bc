#pragma once
#include <cstdint>
#include <vector>
#include <poll.h>

#include "platform/base/TickCount.h"

// What the pump may wait for after a pass without work: descriptors with the
// readiness that would give the next pass something to do, and the earliest tick
// at which a delay or a reconnect interval runs out. Pump thread only.
class WaitSet {
public:
    void Clear()
    {
        Fds.clear();
        HasDeadline = false;
        Immediate = false;
        MustPoll = false;
    }
    // `always`: add the descriptor even with no events, for its hang-up report.
    void Add(int fd, short events, bool always = false)
    {
        if (fd >= 0 && (events != 0 || always))
            Fds.push_back(pollfd{fd, events, 0});
    }
    // `due` is a tick of GetTickCount32; `now` makes the wait end at once.
    void Deadline(int32_t due, bool now = false)
    {
        if (now) {
            Immediate = true;
            return;
        }
        if (!HasDeadline || TickDiff(due, Due) < 0)
            Due = due;
        HasDeadline = true;
    }

    std::vector<pollfd> Fds;
    bool HasDeadline = false;
    int32_t Due = 0;
    bool Immediate = false; // a pass has work already
    bool MustPoll = false;  // something cannot be waited on: keep the 1 ms pause
};
