// Implements PumpPoller: the pump's epoll registrations.
#include "forwarding/PumpPoller.h"

#include <cerrno>

PumpPoller::PumpPoller() : Epoll(::epoll_create1(EPOLL_CLOEXEC))
{
}

void PumpPoller::Update(PumpWatch& watch, int fd, uint64_t opening, uint32_t events, uint32_t owner)
{
    const bool live = watch.Token != 0 && watch.Fd == fd && fd >= 0 && watch.Opening == opening;
    if (!live) {
        // Whatever was registered before went with its descriptor.
        Forget(watch);
        if (fd < 0 || events == 0)
            return;
        epoll_event entry {};
        entry.events = events;
        entry.data.u64 = NextToken;
        if (::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, fd, &entry) != 0
            && (errno != EEXIST || ::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, fd, &entry) != 0))
            return; // not waited on; the owner's next step tries again
        watch = PumpWatch {fd, opening, events, NextToken};
        Registrations[NextToken] = Registration {fd, owner};
        ++NextToken;
        return;
    }
    if (events == watch.Events)
        return;
    if (events == 0) {
        Remove(watch);
        return;
    }
    epoll_event entry {};
    entry.events = events;
    entry.data.u64 = watch.Token;
    if (::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, fd, &entry) == 0)
        watch.Events = events;
    else
        Forget(watch); // gone under us: the next update registers it afresh
}

void PumpPoller::Forget(PumpWatch& watch)
{
    if (watch.Token != 0)
        Registrations.erase(watch.Token);
    watch = PumpWatch {};
}

void PumpPoller::Remove(PumpWatch& watch)
{
    if (watch.Token != 0 && watch.Fd >= 0)
        ::epoll_ctl(Epoll.Get(), EPOLL_CTL_DEL, watch.Fd, nullptr);
    Forget(watch);
}

bool PumpPoller::AddOwn(int fd, uint64_t token)
{
    epoll_event entry {};
    entry.events = EPOLLIN;
    entry.data.u64 = token;
    return fd >= 0 && ::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, fd, &entry) == 0;
}

int PumpPoller::Wait(epoll_event* events, int capacity, int timeout)
{
    const int found = ::epoll_wait(Epoll.Get(), events, capacity, timeout);
    return found < 0 ? 0 : found; // EINTR: as a wait that found nothing
}

bool PumpPoller::OwnerOf(uint64_t token, uint32_t& owner) const
{
    const auto it = Registrations.find(token);
    if (it == Registrations.end())
        return false;
    owner = it->second.Owner;
    return true;
}

void PumpPoller::Drop(uint64_t token)
{
    const auto it = Registrations.find(token);
    if (it == Registrations.end())
        return;
    const int fd = it->second.Fd;
    Registrations.erase(it);
    // The number may have been taken by a newer registration since; that one stays.
    for (const auto& [other, registration] : Registrations) {
        if (registration.Fd == fd)
            return;
    }
    ::epoll_ctl(Epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
}
