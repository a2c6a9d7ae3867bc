// Implements ReadinessWait: the pump's epoll registrations.
#include "net/ReadinessWait.h"

#include <cerrno>

ReadinessWait::ReadinessWait() : Epoll(::epoll_create1(EPOLL_CLOEXEC))
{
}

ReadinessWait::~ReadinessWait()
{
    // Registrations that outlive the wait must not reach back into it.
    for (auto& [token, entry] : Entries) {
        entry.Registration->Wait = nullptr;
        entry.Registration->Token = 0;
    }
}

void ReadinessWait::Erase(WaitRegistration& registration)
{
    if (registration.Token != 0)
        Entries.erase(registration.Token);
    registration.Wait = nullptr;
    registration.Fd = -1;
    registration.Opening = 0;
    registration.Wanted = 0;
    registration.Token = 0;
}

void ReadinessWait::Update(WaitRegistration& registration, int fd, uint64_t opening, uint32_t events,
                           WaitReport* target, WaitReport* owner)
{
    const bool live = registration.Token != 0 && registration.Wait == this && registration.Fd == fd && fd >= 0
        && registration.Opening == opening;
    if (!live) {
        // Whatever was registered before went with its descriptor.
        registration.Forget();
        if (fd < 0 || events == 0)
            return;
        epoll_event entry {};
        entry.events = events;
        entry.data.u64 = NextToken;
        if (::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, fd, &entry) != 0
            && (errno != EEXIST || ::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, fd, &entry) != 0))
            return; // not waited on; the owner's next step tries again
        registration.Wait = this;
        registration.Fd = fd;
        registration.Opening = opening;
        registration.Wanted = events;
        registration.Token = NextToken;
        Entries[NextToken] = Entry {&registration, target, owner};
        ++NextToken;
        return;
    }
    Entries[registration.Token] = Entry {&registration, target, owner};
    if (events == registration.Wanted)
        return;
    if (events == 0) {
        Remove(registration);
        return;
    }
    epoll_event entry {};
    entry.events = events;
    entry.data.u64 = registration.Token;
    if (::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, fd, &entry) == 0)
        registration.Wanted = events;
    else
        Erase(registration); // gone under us: the next update registers it afresh
}

void ReadinessWait::Remove(WaitRegistration& registration)
{
    if (registration.Token != 0 && registration.Wait == this && registration.Fd >= 0)
        ::epoll_ctl(Epoll.Get(), EPOLL_CTL_DEL, registration.Fd, nullptr);
    registration.Forget();
}

bool ReadinessWait::AddOwn(int fd, uint64_t token)
{
    epoll_event entry {};
    entry.events = EPOLLIN;
    entry.data.u64 = token;
    return fd >= 0 && ::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, fd, &entry) == 0;
}

int ReadinessWait::Wait(epoll_event* events, int capacity, int timeout)
{
    const int found = ::epoll_wait(Epoll.Get(), events, capacity, timeout);
    return found < 0 ? 0 : found; // EINTR: as a wait that found nothing
}

bool ReadinessWait::Deliver(uint64_t token, uint32_t events)
{
    const auto it = Entries.find(token);
    if (it == Entries.end())
        return false;
    const Entry& entry = it->second;
    if (entry.Target) {
        entry.Target->Events |= events;
        entry.Target->Reported = true;
    }
    if (entry.Owner)
        entry.Owner->Reported = true;
    return true;
}
