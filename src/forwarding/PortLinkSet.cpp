// Implements PortLinkSet: a port's links, their order and the calls made on all of them.
#include "forwarding/PortLinkSet.h"

#include <algorithm>

#include "links/LinkWaits.h"
#include "links/Stage.h"
#include "platform/base/CriticalSection.h"

namespace {

// A monitor's or a timestamped log's record names at most this many destinations of
// a chunk that went out (a server link with a hundred clients), then how many more.
constexpr size_t NamedDestinations = 8;

} // namespace

void PortLinkSet::RemoveAll()
{
    if (Links.empty())
        return;
    // The port goes (the pump has stopped or is held out); the links' OnClose, and
    // what they say of their backlogs, expect the manager lock, which is re-entrant.
    CGuard guard(Lock);
    for (auto& link : Links)
        link->DiscardBacklog("the console stops");
    while (!Links.empty())
        Remove(Links.front().get());
}

PortLinkSet::NetLinkList::iterator PortLinkSet::Find(const CNetObject* link)
{
    return std::find_if(Links.begin(), Links.end(), [link](const auto& owned) { return owned.get() == link; });
}

std::unique_ptr<CNetObject> PortLinkSet::Make(const LinkMaker& make)
{
    QLN_ASSERT_HELD(Lock);
    return make ? make(Port) : nullptr;
}

MadeLink PortLinkSet::Add(const LinkMaker& make, BindFailure onFailure)
{
    std::unique_ptr<CNetObject> link = Make(make);
    if (!link)
        return {};
    MadeLink made;
    made.Why = link->Start();
    if (made.Why && onFailure == BindFailure::Refuse)
        return made;
    Links.push_back(std::move(link));
    made.Link = Links.back().get();
    return made;
}

bool PortLinkSet::Remove(CNetObject* link)
{
    const auto it = Find(link);
    if (!link || it == Links.end())
        return false;
    // Closed while still in the list, so that what it says of its backlog and its
    // connections names it by its place.
    link->DiscardBacklog("the link was removed");
    link->Close();
    Links.erase(it);
    return true;
}

void PortLinkSet::Arrange(const std::vector<CNetObject*>& order)
{
    auto at = Links.begin();
    for (CNetObject* link : order) {
        const auto found = std::find_if(at, Links.end(), [link](const auto& owned) { return owned.get() == link; });
        if (found == Links.end())
            continue;
        Links.splice(at, Links, found);
        at = std::next(found);
    }
}

MadeLink PortLinkSet::Replace(CNetObject* old, CNetObject* fresh)
{
    if (!old || !fresh || old == fresh)
        return {};
    const auto oldAt = Find(old);
    const auto freshAt = Find(fresh);
    if (oldAt == Links.end() || freshAt == Links.end())
        return {};
    if (!fresh->TakeOver(*old)) {
        MadeLink refused;
        refused.Why = fresh->ListenFailure();
        Remove(fresh);
        return refused;
    }
    // The fresh link was appended; it takes the old one's place in the list, and
    // carries on with what old kept for its peer.
    Links.splice(oldAt, Links, freshAt);
    if (fresh->Type == old->Type)
        fresh->TakeBacklogFrom(*old);
    Remove(old);
    return {fresh, {}};
}

size_t PortLinkSet::Position(const CNetObject& link) const
{
    size_t position = 1;
    for (const auto& owned : Links) {
        if (owned.get() == &link)
            return position;
        ++position;
    }
    return position;
}

std::string PortLinkSet::SenderName(const OriginRef& from, const std::string& portName) const
{
    if (!from)
        return {};
    // A link removed since keeps the name it had, without a place.
    std::string link = portName + " " + from->Link;
    for (const auto& owned : Links) {
        if (owned->Id == from->LinkId) {
            link = owned->Name();
            break;
        }
    }
    return from->Peer.empty() ? link : link + " " + from->Peer;
}

std::string PortLinkSet::Destinations() const
{
    std::string where;
    size_t named = 0;
    size_t more = 0;
    for (const auto& link : Links) {
        std::vector<std::string> peers = link->Peers();
        if (peers.empty())
            peers.emplace_back();
        for (const std::string& peer : peers) {
            if (named == NamedDestinations) {
                ++more;
                continue;
            }
            if (named++ > 0)
                where += ", ";
            where += link->Name();
            if (!peer.empty())
                where += " " + peer;
        }
    }
    if (more > 0)
        where += " and " + std::to_string(more) + " more";
    return where;
}

// Each link, and each connection of a link, takes each chunk once: it remembers how
// much of it a peer already has, so a chunk held back by one link is never sent again
// to another, and one peer that is slow keeps no other from getting it.
int32_t PortLinkSet::Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer)
{
    QLN_ASSERT_HELD(Lock);
    int32_t work = 0;
    for (auto& link : Links)
        work += link->Serve(chunk, length, answer);
    return work;
}

void PortLinkSet::ChunkDone(const uint8_t* chunk, uint32_t length)
{
    for (auto& link : Links)
        link->ChunkDone(chunk, length);
}

void PortLinkSet::Tell(const PortNews& news)
{
    for (auto& link : Links)
        link->PortChanged(news);
}

bool PortLinkSet::WantLineReports() const
{
    return std::any_of(Links.begin(), Links.end(), [](const auto& link) { return link->WantsLineReports(); });
}

bool PortLinkSet::ArmWaits(LinkWaits& waits)
{
    bool again = false;
    for (auto& link : Links) {
        link->ArmWaits(waits);
        again = again || link->WantsChunkAgain();
    }
    return again;
}
