#pragma once
#include <cstdint>
#include <sys/epoll.h>
#include <unordered_map>

#include "net/WaitRegistration.h"
#include "platform/base/Failure.h"
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
// A descriptor the system will not take into the wait (epoll_ctl fails), or one that
// reports an error or a hang-up at every wait for FailingMs while nothing clears it,
// is out of the wait until its owner opens another descriptor: the event log says so
// once, and the pump never spins on it.
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
    // Why the wait could not be made (epoll_create1); empty while Valid.
    const Failure& CreateFailure() const { return Created; }

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

    // Registers one of the pump's own descriptors for EPOLLIN under `token` (1 to 15);
    // empty on success.
    Failure AddOwn(int fd, uint64_t token);

    // What one wait found: how many reports it put in `events`, and why it failed
    // (none then).
    struct Found {
        int Count = 0;
        Failure Why;
    };
    // Waits up to `timeout` milliseconds (-1: no limit) and fills `events`. A signal
    // ends the wait with none. The lock must not be held.
    Found Wait(epoll_event* events, int capacity, int timeout);

    // Hands one report to its registration's target and marks its owner; false for a
    // token whose registration is gone.
    bool Deliver(uint64_t token, uint32_t events);

    // Tokens below this are the pump's own descriptors.
    static constexpr uint64_t FirstToken = 16;
    // A descriptor reported with EPOLLERR or EPOLLHUP at every wait for this long
    // (and at least FailingWaits waits) is taken out of the wait.
    static constexpr int FailingMs = 2000;
    static constexpr uint32_t FailingWaits = 100000;

private:
    friend class WaitRegistration;
    struct Entry {
        WaitRegistration* Registration;
        WaitReport* Target;
        WaitReport* Owner;
        uint64_t FailingSince = 0; // the wait from which on every wait reported a failure; 0: none
        int32_t FailingTick = 0;   // and when that wait was
        uint64_t FailingLast = 0;  // the last wait that reported one
    };
    void Erase(WaitRegistration& registration);
    // Takes the registration out and keeps it out for this descriptor and opening,
    // with an event that says why.
    void Refuse(WaitRegistration& registration, const std::string& why);
    // Whether the entry has now failed at every wait for long enough.
    bool KeepsFailing(Entry& entry, uint32_t events);

    UniqueFd Epoll;
    Failure Created;
    uint64_t Waits = 0; // waits made
    uint64_t NextToken = FirstToken;
    std::unordered_map<uint64_t, Entry> Entries; // by token
};
