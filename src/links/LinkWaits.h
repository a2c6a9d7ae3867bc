#pragma once
#include <cstdint>

class CSocket;
class ReadinessWait;
struct WaitReport;

// What a link arms its waits with after a pump step: the pump's readiness wait for
// its sockets, and the port's due time for what no descriptor reports (a reconnect
// interval, a retry). Made by the port for one step; pump thread, lock held.
class LinkWaits {
public:
    LinkWaits(ReadinessWait& wait, WaitReport& port, int32_t now, bool fromNetFull, bool chunkDue)
        : Now(now), FromNetFull(fromNetFull), ChunkDue(chunkDue), Wait(wait), Port(port)
    {
    }

    const int32_t Now;
    // So much waits for the application that TCP sockets are not read.
    const bool FromNetFull;
    // The port has a chunk for the network whose delay has passed.
    const bool ChunkDue;

    // Waits for `events` (epoll bits; 0: none) on the socket; what the last wait
    // reported for it is cleared.
    void Watch(CSocket& socket, uint32_t events);
    // The port is due by `tick` at the latest.
    void DueBy(int32_t tick);

    bool HasDue = false;
    int32_t Due = 0;

private:
    ReadinessWait& Wait;
    WaitReport& Port;
};
