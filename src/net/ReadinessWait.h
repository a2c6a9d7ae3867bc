#pragma once
#include <cstdint>
#include <sys/epoll.h>
#include <unordered_map>

#include "net/WaitRegistration.h"
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
// Every report carries a token that names one registration; Deliver finds the
// registration's target and owner with one lookup. A token outlives its registration
// only in a report already taken from the system; such a stale report is dropped.
//
// Pump thread, or any thread holding the manager lock (which the pump holds while it
// uses the wait): the registrations are guarded by that lock. Wait runs without it.
class ReadinessWait {
public:
    ReadinessWait();
    ReadinessWait(const ReadinessWait&) = delete;
    ReadinessWait& operator=(const ReadinessWait&) = delete;
    ~ReadinessWait();

    bool Valid() const { return Epoll.Valid(); }

    // Makes `registration` wait for `events` (epoll bits) on `fd`, the `opening`-th
    // descriptor its owner has had: registers, changes or removes it (events 0, or no
    // descriptor). A new opening is a new registration whatever the number: the old
    // one went with the descriptor it named. Reports go to `target`, and mark
    // `owner` (the port the descriptor serves) as having something to do.
    void Update(WaitRegistration& registration, int fd, uint64_t opening, uint32_t events, WaitReport* target,
                WaitReport* owner);
    // Takes a registration whose descriptor stays open (a master of a port that
    // goes) out of the wait.
    void Remove(WaitRegistration& registration);

    // Registers one of the pump's own descriptors for EPOLLIN under `token` (1 to 15).
    bool AddOwn(int fd, uint64_t token);

    // Waits up to `timeout` milliseconds (-1: no limit) and fills `events`; returns
    // how many. The lock must not be held.
    int Wait(epoll_event* events, int capacity, int timeout);

    // Hands one report to its registration's target and marks its owner; false for a
    // token whose registration is gone.
    bool Deliver(uint64_t token, uint32_t events);

    // Tokens below this are the pump's own descriptors.
    static constexpr uint64_t FirstToken = 16;

private:
    friend class WaitRegistration;
    struct Entry {
        WaitRegistration* Registration;
        WaitReport* Target;
        WaitReport* Owner;
    };
    void Erase(WaitRegistration& registration);

    UniqueFd Epoll;
    uint64_t NextToken = FirstToken;
    std::unordered_map<uint64_t, Entry> Entries; // by token
};
