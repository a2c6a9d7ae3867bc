#pragma once
#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "links/LinkMakers.h"
#include "links/NetObject.h"
#include "links/Origin.h"
#include "platform/base/Failure.h"

class CCriticalSection;
class LinkWaits;
class PortSide;
struct PortNews;

// What an add or a replacement of a link came to: the link that now serves (null
// when none does) and why the link could not have its local port or settings
// (empty when it could). A link kept by KeepAndRetry comes with both.
struct MadeLink {
    CNetObject* Link = nullptr;
    Failure Why;
};

// The links of one port, in the order status numbers them: made, started, kept,
// replaced, arranged and removed here, and served a chunk at a time in list order.
// Owns its links; guarded by the manager lock (the caller holds it).
class PortLinkSet {
public:
    using NetLinkList = std::list<std::unique_ptr<CNetObject>>;

    // What Add does when the local port cannot be bound now: refuse the link, or keep
    // it, not listening, for the pump to bind every ListenRetryInterval.
    enum class BindFailure { Refuse, KeepAndRetry };

    // `port` is what the links are made for (the port object); `lock` the manager's.
    PortLinkSet(PortSide& port, CCriticalSection* lock) : Port(port), Lock(lock) {}
    PortLinkSet(const PortLinkSet&) = delete;
    PortLinkSet& operator=(const PortLinkSet&) = delete;
    ~PortLinkSet() { RemoveAll(); }
    // Removes the links in list order, each told that the console stops.
    void RemoveAll();

    NetLinkList& List() { return Links; }
    const NetLinkList& List() const { return Links; }

    std::unique_ptr<CNetObject> Make(const LinkMaker& make);
    // Makes, starts and keeps a link; no link when none was made or it was refused.
    MadeLink Add(const LinkMaker& make, BindFailure onFailure);
    // False when `link` is not one of the set.
    bool Remove(CNetObject* link);
    // `fresh` in the place of `old` (see CPortObject::ReplaceLink); no link when refused.
    MadeLink Replace(CNetObject* old, CNetObject* fresh);
    void Arrange(const std::vector<CNetObject*>& order);

    // Where `link` stands, from 1; a link not in the list: the place it will take.
    size_t Position(const CNetObject& link) const;
    // Who sent bytes: the link by its name now, and the peer.
    std::string SenderName(const OriginRef& from, const std::string& portName) const;
    // Every link with each of its peers, for a chunk that went out.
    std::string Destinations() const;

    // The step's calls on every link, in list order.
    int32_t Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer);
    void ChunkDone(const uint8_t* chunk, uint32_t length);
    void Tell(const PortNews& news);
    bool WantLineReports() const;
    // Arms each link's waits; true when a link wants the chunk offered again.
    bool ArmWaits(LinkWaits& waits);

private:
    NetLinkList::iterator Find(const CNetObject* link);

    PortSide& Port;
    CCriticalSection* const Lock; // not owned
    NetLinkList Links;
};
