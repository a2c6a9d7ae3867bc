// Implements CPortObject's links: adding them, replacing, removing, reconnecting.
#include <algorithm>
#include <memory>

#include "forwarding/PortObject.h"
#include "links/TcpClientLink.h"
#include "links/TcpServerLink.h"
#include "links/UdpLink.h"

CNetObject* CPortObject::AddTcpClient(const char* host, uint16_t remotePort, const LinkOptions& options,
                                      BindFailure onFailure, Failure* whyRefused)
{
    if (!host || remotePort == 0)
        return nullptr;
    return AddLink([&](PortSide& port) { return std::make_unique<TcpClientLink>(port, host, remotePort, options); },
                   onFailure, whyRefused);
}

CNetObject* CPortObject::AddTcpServer(uint16_t listenPort, BindFailure onFailure, Failure* whyRefused,
                                      const LinkOptions& options)
{
    if (listenPort == 0)
        return nullptr;
    return AddLink([&](PortSide& port) { return std::make_unique<TcpServerLink>(port, listenPort, options); },
                   onFailure, whyRefused);
}

CNetObject* CPortObject::AddUdp(uint16_t localPort, const char* host, uint16_t remotePort, BindFailure onFailure,
                                Failure* whyRefused, const LinkOptions& options)
{
    if (localPort == 0 || !host || remotePort == 0)
        return nullptr;
    return AddLink(
        [&](PortSide& port) { return std::make_unique<UdpLink>(port, localPort, host, remotePort, options); },
        onFailure, whyRefused);
}

CPortObject::LinkMaker CPortObject::TcpClientMaker(std::string host, uint16_t remotePort, LinkOptions options)
{
    return [host = std::move(host), remotePort, options = std::move(options)](
               PortSide& port) -> std::unique_ptr<CNetObject> {
        if (remotePort == 0)
            return nullptr;
        return std::make_unique<TcpClientLink>(port, host.c_str(), remotePort, options);
    };
}

CPortObject::LinkMaker CPortObject::TcpServerMaker(uint16_t listenPort, LinkOptions options)
{
    return [listenPort, options = std::move(options)](PortSide& port) -> std::unique_ptr<CNetObject> {
        if (listenPort == 0)
            return nullptr;
        return std::make_unique<TcpServerLink>(port, listenPort, options);
    };
}

CPortObject::LinkMaker CPortObject::UdpMaker(uint16_t localPort, std::string host, uint16_t remotePort,
                                             LinkOptions options)
{
    return [localPort, host = std::move(host), remotePort, options = std::move(options)](
               PortSide& port) -> std::unique_ptr<CNetObject> {
        if (localPort == 0 || remotePort == 0)
            return nullptr;
        return std::make_unique<UdpLink>(port, localPort, host.c_str(), remotePort, options);
    };
}

std::unique_ptr<CNetObject> CPortObject::MakeLink(const LinkMaker& make)
{
    QLN_ASSERT_HELD(ManagerLock);
    return make ? make(*this) : nullptr;
}

CNetObject* CPortObject::AddLink(const LinkMaker& make, BindFailure onFailure, Failure* whyRefused)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    std::unique_ptr<CNetObject> link = make(*this);
    if (!link)
        return nullptr;
    Failure failed = link->Start();
    if (failed && whyRefused)
        *whyRefused = failed;
    if (failed && onFailure == BindFailure::Refuse)
        return nullptr;
    NetLinks.push_back(std::move(link));
    UpdateLineReports();
    return NetLinks.back().get();
}

void CPortObject::RemoveLink(CNetObject* link)
{
    if (!link)
        return;
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    for (auto it = NetLinks.begin(); it != NetLinks.end(); ++it) {
        if (it->get() != link)
            continue;
        // Closed while still in the list, so that what it says of its backlog and
        // its connections names it by its place.
        link->DiscardBacklog("the link was removed");
        link->Close();
        NetLinks.erase(it);
        UpdateLineReports();
        return;
    }
}

void CPortObject::Reconnect(CNetObject* link)
{
    if (!link)
        return;
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    link->Reconnect();
}

void CPortObject::ArrangeLinks(const std::vector<CNetObject*>& order)
{
    CGuard guard(ManagerLock);
    auto at = NetLinks.begin();
    for (CNetObject* link : order) {
        const auto found =
            std::find_if(at, NetLinks.end(), [link](const auto& owned) { return owned.get() == link; });
        if (found == NetLinks.end())
            continue;
        NetLinks.splice(at, NetLinks, found);
        at = std::next(found);
    }
}

bool CPortObject::ReplaceLink(CNetObject* old, CNetObject* fresh, Failure* whyRefused)
{
    if (!old || !fresh || old == fresh)
        return false;
    CGuard guard(ManagerLock);
    auto find = [this](CNetObject* link) {
        return std::find_if(NetLinks.begin(), NetLinks.end(), [link](const auto& owned) { return owned.get() == link; });
    };
    const auto oldAt = find(old);
    const auto freshAt = find(fresh);
    if (oldAt == NetLinks.end() || freshAt == NetLinks.end())
        return false;
    if (!fresh->TakeOver(*old)) {
        if (whyRefused)
            *whyRefused = fresh->ListenFailure();
        RemoveLink(fresh);
        return false;
    }
    // The fresh link was appended; it takes the old one's place in the list, and
    // carries on with what old kept for its peer.
    NetLinks.splice(oldAt, NetLinks, freshAt);
    if (fresh->Type == old->Type)
        fresh->TakeBacklogFrom(*old);
    RemoveLink(old);
    return true;
}

size_t CPortObject::LinkPosition(const CNetObject& link) const
{
    size_t position = 1;
    for (const auto& owned : NetLinks) {
        if (owned.get() == &link)
            return position;
        ++position;
    }
    return position;
}

std::string CPortObject::SenderName(const OriginRef& from) const
{
    if (!from)
        return {};
    // A link removed since keeps the name it had, without a place.
    std::string link = Name() + " " + from->Link;
    for (const auto& owned : NetLinks) {
        if (owned->Id == from->LinkId) {
            link = owned->Name();
            break;
        }
    }
    return from->Peer.empty() ? link : link + " " + from->Peer;
}
