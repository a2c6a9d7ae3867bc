// Implements CNetObject's lines in the event log.
#include "links/NetObject.h"

#include <atomic>

#include "links/PortSide.h"
#include "platform/base/Text.h"

uint64_t CNetObject::NextId()
{
    static std::atomic<uint64_t> last {0};
    return ++last;
}

std::string CNetObject::Name() const
{
    return Name(Port.LinkPosition(*this));
}

std::string CNetObject::Name(size_t position) const
{
    return Port.Name() + " #" + std::to_string(position) + " " + Label();
}

void CNetObject::Say(EventLevel level, const std::string& text) const
{
    // A line the log would not keep costs no name: a link that keeps failing alike
    // says so at the debug level on every attempt.
    if (static_cast<int>(level) > static_cast<int>(EventLog::Instance().Threshold()))
        return;
    SayEvent(level, Name(), text);
}

void CNetObject::SayFailure(const std::string& text)
{
    Say(text == SaidFailure ? EventLevel::Debug : EventLevel::Warning, text);
    SaidFailure = text;
}

void CNetObject::SayWorking(const std::string& text)
{
    Say(EventLevel::Info, text);
    SaidFailure.clear();
}

void CNetObject::CountRefused(std::string peer, std::string why)
{
    ++Stats.Refused;
    Say(EventLevel::Notice, "refused " + peer + ": " + why);
    Stats.LastRefusedPeer = std::move(peer);
    Stats.LastRefusedWhy = std::move(why);
}

void CNetObject::KeepForLater(const uint8_t* data, size_t count)
{
    const bool dropping = Kept.DroppedInOutage > 0;
    if (Kept.Keep(data, count) > 0 && !dropping)
        Say(EventLevel::Warning, "backlog full (" + std::to_string(Backlog::Bound / 1024)
                                     + " KiB): dropping the oldest bytes while down");
}

void CNetObject::BackOnline()
{
    if (Kept.DroppedInOutage == 0)
        return;
    Say(EventLevel::Warning, GroupedNumber(Kept.DroppedInOutage) + " bytes dropped while down");
    Kept.DroppedInOutage = 0;
}

void CNetObject::DiscardBacklog(const std::string& why)
{
    BackOnline();
    const size_t dropped = Kept.Discard();
    if (dropped > 0)
        Say(EventLevel::Warning, GroupedNumber(dropped) + " bytes of the backlog discarded: " + why);
}
