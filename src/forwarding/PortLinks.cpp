// Implements CPortObject's face for its links: each call takes the lock and goes to
// the port's link set; what changes the set looks again whether line reports are
// wanted.
#include "forwarding/PortObject.h"

MadeLink CPortObject::AddTcpClient(const char* host, uint16_t remotePort, const LinkOptions& options,
                                   BindFailure onFailure)
{
    return host ? AddLink(TcpClientMaker(host, remotePort, options), onFailure) : MadeLink {};
}

MadeLink CPortObject::AddTcpServer(uint16_t listenPort, BindFailure onFailure, const LinkOptions& options)
{
    return AddLink(TcpServerMaker(listenPort, options), onFailure);
}

MadeLink CPortObject::AddUdp(uint16_t localPort, const char* host, uint16_t remotePort, BindFailure onFailure,
                             const LinkOptions& options)
{
    return host ? AddLink(UdpMaker(localPort, host, remotePort, options), onFailure) : MadeLink {};
}

std::unique_ptr<CNetObject> CPortObject::MakeLink(const LinkMaker& make)
{
    return Links.Make(make);
}

MadeLink CPortObject::AddLink(const LinkMaker& make, BindFailure onFailure)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    MadeLink made = Links.Add(make, onFailure);
    if (made.Link)
        UpdateLineReports();
    return made;
}

void CPortObject::RemoveLink(CNetObject* link)
{
    if (!link)
        return;
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    if (Links.Remove(link))
        UpdateLineReports();
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
    Links.Arrange(order);
}

MadeLink CPortObject::ReplaceLink(CNetObject* old, CNetObject* fresh)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    MadeLink replaced = Links.Replace(old, fresh);
    UpdateLineReports();
    return replaced;
}
