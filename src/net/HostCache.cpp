#include "net/HostCache.h"

#include "net/HostResolver.h"
#include "platform/base/TickCount.h"

HostCache::~HostCache()
{
    if (InFlight)
        InFlight->Abandoned.store(true, std::memory_order_relaxed);
}

void HostCache::Forget(const std::string& host)
{
    if (InFlight)
        InFlight->Abandoned.store(true, std::memory_order_relaxed);
    InFlight.reset();
    Host = host;
    NetAddress numeric;
    HaveAddress = NetAddress::FromNumeric(host.c_str(), numeric);
    Addresses.assign(HaveAddress ? 1 : 0, numeric);
    Current = 0;
    Type = host.empty() ? Kind::Empty : HaveAddress ? Kind::Numeric : Kind::Name;
    LookupFailed = false;
    Distrusted = false;
}

bool HostCache::Collect(int32_t now)
{
    if (!InFlight || !InFlight->Done.load(std::memory_order_acquire))
        return false;
    HaveAddress = !InFlight->Addresses.empty();
    Addresses = InFlight->Addresses;
    Current = 0;
    LookupFailed = !HaveAddress;
    Distrusted = false;
    AnsweredAt = now;
    InFlight.reset();
    return true;
}

bool HostCache::LookupDue(int32_t now, int32_t retryAfter) const
{
    if (InFlight)
        return false;
    if (LookupFailed)
        return TickElapsed(now, AnsweredAt, retryAfter);
    if (!HaveAddress || Distrusted)
        return true;
    return TickElapsed(now, AnsweredAt, RefreshAfter);
}

HostCache::Answer HostCache::Get(HostResolver* resolver, const std::string& host, bool ask, int32_t retryAfter,
                                 NetAddress& out)
{
    if (Type == Kind::Unknown || host != Host)
        Forget(host);
    if (Type == Kind::Empty)
        return Answer::Failed;
    if (Type == Kind::Name) {
        const int32_t now = GetTickCount32();
        if (!Collect(now) && ask && LookupDue(now, retryAfter)) {
            if (resolver) {
                InFlight = resolver->Ask(Host);
            } else {
                LookupFailed = true;
                HaveAddress = false;
                AnsweredAt = now;
            }
        }
    }
    if (HaveAddress && !Distrusted) {
        out = Addresses[Current];
        return Answer::Ready;
    }
    return InFlight ? Answer::Pending : Answer::Failed;
}

void HostCache::Distrust()
{
    if (Type == Kind::Name && HaveAddress)
        Distrusted = true;
}

bool HostCache::Advance()
{
    if (HaveAddress && Current + 1 < Addresses.size()) {
        ++Current;
        return true;
    }
    Current = 0;
    Distrust();
    return false;
}

bool HostCache::Waiting() const
{
    return InFlight && !InFlight->Done.load(std::memory_order_acquire);
}

bool HostCache::RetryAhead(int32_t now, int32_t retryAfter, int32_t& due) const
{
    if (Type != Kind::Name || !LookupFailed || InFlight || TickElapsed(now, AnsweredAt, retryAfter))
        return false;
    due = static_cast<int32_t>(static_cast<uint32_t>(AnsweredAt) + static_cast<uint32_t>(retryAfter));
    return true;
}
