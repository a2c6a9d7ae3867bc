// Implements CNetObject's lines in the event log.
#include "links/NetObject.h"

#include "links/PortSide.h"
#include "platform/base/Text.h"

void CNetObject::Say(EventLevel level, const std::string& text) const
{
    SayEvent(level, Port.Name() + " " + Label(), text);
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
    ++Refused;
    Say(EventLevel::Notice, "refused " + peer + ": " + why);
    LastRefusedPeer = std::move(peer);
    LastRefusedWhy = std::move(why);
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
