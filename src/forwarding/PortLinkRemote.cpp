// Implements CPortObject's reach to a link's remote host: connection attempts of
// TCP client links and the destination of UDP links, both through the link's host
// cache, so that neither the pump nor the window ever waits for a name server.
#include "forwarding/PortObject.h"
#include "platform/base/TickCount.h"

// Connects to the address the cache gives. One that cannot even be tried (no route
// to it, no IPv6 on this machine) gives way at once to the next address of the
// host's answer; a Connecting socket is left to the pump, which tries the next one
// when it fails (OnConnect).
CPortObject::ConnectStart CPortObject::ConnectToRemote(CNetObject& link, bool ask)
{
    QLN_ASSERT_HELD(ManagerLock);
    for (;;) {
        NetAddress address;
        switch (link.Remote.Get(Resolver, link.RemoteAddr, ask, 0, address)) {
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
        link.LastError = link.ClientSocket->LastErrorReason();
        if (!link.Remote.Advance())
            return ConnectStart::Failed;
    }
}

// An attempt whose host is still being looked up leaves the link Unconnected and
// untouched; the answer wakes the pump, which tries again.
CPortObject::ConnectStart CPortObject::StartConnect(CNetObject& link)
{
    return ConnectToRemote(link, true);
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
    switch (ConnectToRemote(link, false)) {
    case ConnectStart::Waiting:
        return;
    case ConnectStart::Started:
        link.MarkChanged();
        break;
    case ConnectStart::Failed:
        break;
    }
    link.ConnectWhenResolved = false;
}

// A connection attempt failed and the host has another address: it is tried at once,
// whoever started the attempt, so a name with an unreachable first address connects
// without waiting for the reconnect interval.
void CPortObject::TryNextAddress(CNetObject& link)
{
    QLN_ASSERT_HELD(ManagerLock);
    if (!link.NextAddressDue)
        return;
    link.NextAddressDue = false;
    if (link.ClientSocket->GetState() != Unconnected)
        return;
    switch (ConnectToRemote(link, false)) {
    case ConnectStart::Started:
        link.MarkChanged();
        break;
    case ConnectStart::Failed:
        if (link.AutoReconnect)
            link.LastFailTime = GetTickCount32();
        break;
    case ConnectStart::Waiting:
        break;
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
