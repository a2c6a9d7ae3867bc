#pragma once
#include <cstdint>
#include <sys/epoll.h>
#include <unordered_map>

#include "net/Socket.h"
#include "platform/base/UniqueFd.h"

// The pump's readiness wait: one epoll instance in which every descriptor the pump
// serves (each port's pseudo-terminal master, each link's sockets, the wake and stop
// events, the notice of applications opening ports) stays registered, so a wait
// costs one system call however many ports and clients there are. Registrations
// change only when a descriptor, or what is wanted of it, changes.
//
// Level-triggered: a descriptor stays reported for as long as it is ready, so
// whatever a step leaves undone is reported again at the next wait.
//
// Every report carries a token naming one registration of one descriptor of one
// owner (a port's serial; 0 for the pump's own descriptors). A token outlives its
// descriptor only in a report already taken from the system; such a stale report
// finds no owner and is dropped.
//
// Pump thread, or any thread holding the manager lock (which the pump holds while
// it uses the poller): the registrations are guarded by that lock. Wait runs
// without it.
class PumpPoller {
public:
    PumpPoller();
    PumpPoller(const PumpPoller&) = delete;
    PumpPoller& operator=(const PumpPoller&) = delete;

    bool Valid() const { return Epoll.Valid(); }

    // Makes the registration of `watch` wait for `events` (epoll bits) on `fd`, the
    // `opening`-th descriptor its owner has had: registers, changes or removes it
    // (events 0, or no descriptor). A new opening is a new registration whatever
    // the number: the old one went with the descriptor it named.
    void Update(PumpWatch& watch, int fd, uint64_t opening, uint32_t events, uint32_t owner);
    // Forgets a registration whose descriptor is gone (or going): no system call.
    void Forget(PumpWatch& watch);
    // Removes a registration whose descriptor stays open (a master of a port that
    // goes), and forgets it.
    void Remove(PumpWatch& watch);

    // Registers one of the pump's own descriptors for EPOLLIN under `token` (1 to 15).
    bool AddOwn(int fd, uint64_t token);

    // Waits up to `timeout` milliseconds (-1: no limit) and fills `events`; returns
    // how many. The lock must not be held.
    int Wait(epoll_event* events, int capacity, int timeout);

    // The owner a report's token names, or false for a stale or unknown token.
    bool OwnerOf(uint64_t token, uint32_t& owner) const;
    // Drops a registration whose owner is gone: removes its descriptor from the wait.
    void Drop(uint64_t token);

    // Tokens below this are the pump's own descriptors.
    static constexpr uint64_t FirstToken = 16;

private:
    struct Registration {
        int Fd;
        uint32_t Owner;
    };

    UniqueFd Epoll;
    uint64_t NextToken = FirstToken;
    std::unordered_map<uint64_t, Registration> Registrations; // by token
};
