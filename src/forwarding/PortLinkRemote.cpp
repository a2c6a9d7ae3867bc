// Implements CPortObject's reach to a link's remote host: connection attempts of
// TCP client links and the destination of UDP links, both through the link's host
// cache, so that neither the pump nor the window ever waits for a name server.
#include "forwarding/PortObject.h"

// An attempt whose host is still being looked up leaves the link Unconnected and
// untouched; the answer wakes the pump, which tries again.
CPortObject::ConnectStart CPortObject::StartConnect(CNetObject& link)
{
    QLN_ASSERT_HELD(ManagerLock);
    NetAddress address;
    switch (link.Remote.Get(Resolver, link.RemoteAddr, true, 0, address)) {
    case HostCache::Pending:
        return ConnectStart::Waiting;
    case HostCache::Failed:
        // As a Connect to a host that does not resolve: the handle of an earlier
        // attempt goes (with its OnClose), and the attempt cannot start.
        link.ClientSocket->Close();
        link.LastError = "Name does not resolve";
        return ConnectStart::Failed;
    case HostCache::Ready:
        break;
    }
    address.SetPort(link.RemotePort);
    if (link.ClientSocket->Connect(address))
        return ConnectStart::Started;
    link.Remote.Distrust();
    link.LastError = link.ClientSocket->LastErrorReason();
    return ConnectStart::Failed;
}

// The window's attempts (the first one and Reconnect) are made whether or not the
// link reconnects by itself, so one that waited for its host is finished here.
// Like the window's own attempts it leaves LastFailTime alone.
void CPortObject::FinishWaitingConnect(CNetObject& link)
{
    QLN_ASSERT_HELD(ManagerLock);
    if (!link.ConnectWhenResolved)
        return;
    if (link.ClientSocket->GetState() != Unconnected) {
        link.ConnectWhenResolved = false;
        return;
    }
    NetAddress address;
    switch (link.Remote.Get(Resolver, link.RemoteAddr, false, 0, address)) {
    case HostCache::Pending:
        return;
    case HostCache::Failed:
        link.ConnectWhenResolved = false;
        link.ClientSocket->Close();
        link.LastError = "Name does not resolve";
        return;
    case HostCache::Ready:
        link.ConnectWhenResolved = false;
        address.SetPort(link.RemotePort);
        if (link.ClientSocket->Connect(address)) {
            link.MarkChanged();
        } else {
            link.Remote.Distrust();
            link.LastError = link.ClientSocket->LastErrorReason();
        }
        return;
    }
}

bool CPortObject::UdpDestination(CNetObject& link, NetAddress& to)
{
    QLN_ASSERT_HELD(ManagerLock);
    if (link.Remote.Get(Resolver, link.RemoteAddr, true, HostCache::UdpRetryAfter, to) != HostCache::Ready)
        return false;
    to.SetPort(link.RemotePort);
    return true;
}
