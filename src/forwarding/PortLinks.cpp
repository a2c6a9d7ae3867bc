// Implements CPortObject's face for its links: each call takes the lock and goes to
// the port's link set; what changes the set looks again whether line reports are
// wanted.
#include "forwarding/PortObject.h"

CNetObject* CPortObject::AddTcpClient(const char* host, uint16_t remotePort, const LinkOptions& options,
                                      BindFailure onFailure, Failure* whyRefused)
{
    return host ? AddLink(TcpClientMaker(host, remotePort, options), onFailure, whyRefused) : nullptr;
}

CNetObject* CPortObject::AddTcpServer(uint16_t listenPort, BindFailure onFailure, Failure* whyRefused,
                                      const LinkOptions& options)
{
    return AddLink(TcpServerMaker(listenPort, options), onFailure, whyRefused);
}

CNetObject* CPortObject::AddUdp(uint16_t localPort, const char* host, uint16_t remotePort, BindFailure onFailure,
                                Failure* whyRefused, const LinkOptions& options)
{
    return host ? AddLink(UdpMaker(localPort, host, remotePort, options), onFailure, whyRefused) : nullptr;
}

std::unique_ptr<CNetObject> CPortObject::MakeLink(const LinkMaker& make)
{
    return Links.Make(make);
}

CNetObject* CPortObject::AddLink(const LinkMaker& make, BindFailure onFailure, Failure* whyRefused)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    CNetObject* link = Links.Add(make, onFailure, whyRefused);
    if (link)
        UpdateLineReports();
    return link;
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

bool CPortObject::ReplaceLink(CNetObject* old, CNetObject* fresh, Failure* whyRefused)
{
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    const bool replaced = Links.Replace(old, fresh, whyRefused);
    UpdateLineReports();
    return replaced;
}
