#pragma once
#include <cstdint>

class ReadinessWait;

// What the pump's wait found for one descriptor (a socket, a port's master), or for
// any descriptor of a port: plain bits the wait sets and their owner reads and clears.
// No call into the owner: a report is two stores. Guarded by the manager lock.
struct WaitReport {
    uint32_t Events = 0;   // epoll bits reported since the owner last cleared them
    // A port: something was reported since its last step. A socket: the wait's bits
    // are what its next step goes by (it is in the wait, or a report came).
    bool Reported = false;
};

// One descriptor's place in the pump's wait, kept by the object that owns the
// descriptor. It leaves the wait when its owner forgets it (the descriptor closed) or
// goes, so a report can never reach an object that is gone.
//
// Guarded by the manager lock, as the wait is.
class WaitRegistration {
public:
    WaitRegistration() = default;
    WaitRegistration(const WaitRegistration&) = delete;
    WaitRegistration& operator=(const WaitRegistration&) = delete;
    ~WaitRegistration() { Forget(); }

    // The descriptor is closed (or about to be): its registration went with it, and
    // only the wait's record of it goes. No system call.
    void Forget();
    bool Registered() const { return Token != 0; }
    uint32_t Events() const { return Wanted; }
    // The descriptor registered, and which opening of it by its owner.
    int Descriptor() const { return Fd; }
    uint64_t OpeningNumber() const { return Opening; }

private:
    friend class ReadinessWait;
    ReadinessWait* Wait = nullptr;
    int Fd = -1;
    uint64_t Opening = 0;
    uint32_t Wanted = 0;
    uint64_t Token = 0;
    // The descriptor and opening the wait refused: not taken again until another.
    int RefusedFd = -1;
    uint64_t RefusedOpening = 0;
};
