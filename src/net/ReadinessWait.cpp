// Implements ReadinessWait: the pump's epoll registrations.
#include "net/ReadinessWait.h"

#include <cerrno>

#include "platform/base/EventLog.h"
#include "platform/base/TickCount.h"

ReadinessWait::ReadinessWait() : Epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    if (!Epoll)
        Created = Failure::OfCall("epoll_create1");
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
        if (fd < 0 || events == 0 || (fd == registration.RefusedFd && opening == registration.RefusedOpening))
            return;
        epoll_event entry {};
        entry.events = events;
        entry.data.u64 = NextToken;
        if (::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, fd, &entry) != 0
            && (errno != EEXIST || ::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, fd, &entry) != 0)) {
            const Failure failure = Failure::OfCall("epoll_ctl");
            registration.Fd = fd;
            registration.Opening = opening;
            Refuse(registration, "cannot be waited on (" + failure.Text() + ")");
            return;
        }
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
    if (::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, fd, &entry) == 0) {
        registration.Wanted = events;
        return;
    }
    const Failure failure = Failure::OfCall("epoll_ctl");
    Refuse(registration, "cannot be waited on (" + failure.Text() + ")");
}

void ReadinessWait::Refuse(WaitRegistration& registration, const std::string& why)
{
    const int fd = registration.Fd;
    const uint64_t opening = registration.Opening;
    if (registration.Token != 0 && registration.Wait == this && fd >= 0)
        ::epoll_ctl(Epoll.Get(), EPOLL_CTL_DEL, fd, nullptr); // may be gone already; nothing more to undo
    Erase(registration);
    registration.RefusedFd = fd;
    registration.RefusedOpening = opening;
    SayEvent(EventLevel::Error, "pump",
             "descriptor " + std::to_string(fd) + " " + why + "; it is out of the wait until it is opened again");
}

void ReadinessWait::Remove(WaitRegistration& registration)
{
    if (registration.Token != 0 && registration.Wait == this && registration.Fd >= 0)
        ::epoll_ctl(Epoll.Get(), EPOLL_CTL_DEL, registration.Fd, nullptr);
    registration.Forget();
}

Failure ReadinessWait::AddOwn(int fd, uint64_t token)
{
    if (fd < 0)
        return Failure::Said("no descriptor");
    epoll_event entry {};
    entry.events = EPOLLIN;
    entry.data.u64 = token;
    return ::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, fd, &entry) == 0 ? Failure {} : Failure::OfCall("epoll_ctl");
}

ReadinessWait::Found ReadinessWait::Wait(epoll_event* events, int capacity, int timeout)
{
    const int found = ::epoll_wait(Epoll.Get(), events, capacity, timeout);
    ++Waits;
    if (found >= 0)
        return {found, {}};
    if (errno == EINTR)
        return {}; // as a wait that found nothing
    return {0, Failure::OfCall("epoll_wait")};
}

bool ReadinessWait::KeepsFailing(Entry& entry, uint32_t events)
{
    if (!(events & (EPOLLERR | EPOLLHUP))) {
        entry.FailingSince = 0;
        return false;
    }
    if (entry.FailingSince == 0 || entry.FailingLast + 1 != Waits) {
        entry.FailingSince = Waits;
        entry.FailingTick = GetTickCount32();
    }
    entry.FailingLast = Waits;
    return Waits - entry.FailingSince + 1 >= FailingWaits && TickDiff(GetTickCount32(), entry.FailingTick) >= FailingMs;
}

bool ReadinessWait::Deliver(uint64_t token, uint32_t events)
{
    const auto it = Entries.find(token);
    if (it == Entries.end())
        return false;
    Entry& entry = it->second;
    if (entry.Target) {
        entry.Target->Events |= events;
        entry.Target->Reported = true;
    }
    if (entry.Owner)
        entry.Owner->Reported = true;
    // The owner hears of this report still; the wait no longer does.
    if (KeepsFailing(entry, events))
        Refuse(*entry.Registration, "reported " + std::string(events & EPOLLERR ? "an error" : "a hang-up")
                                       + " at every wait for " + std::to_string(FailingMs / 1000)
                                       + " s while nothing took it");
    return true;
}
