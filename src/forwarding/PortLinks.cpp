// Implements CPortObject's links: setting them up, listening, reconnecting, replacing, removing.
#include <algorithm>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <type_traits>
#include <vector>

#include "platform/base/TickCount.h"
#include "forwarding/PortObject.h"

CNetObject* CPortObject::AddTcpClient(const char* host, uint16_t remotePort, const LinkOptions& options)
{
    if (!host || remotePort == 0)
        return nullptr;
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    auto link = std::make_unique<CNetObject>(TcpClient);
    link->ClientSocket = std::make_unique<CClientSocket>();
    link->ClientSocket->SetHandler(this);
    link->ClientSocket->SetUserData(link.get());
    link->RemoteAddr = host;
    link->RemotePort = remotePort;
    link->Rfc2217 = options.Rfc2217;
    // A first attempt that cannot even start still makes the link; the pump tries
    // again once the reconnect interval has passed. One that waits for the host's
    // lookup starts when the answer comes.
    if (StartConnect(*link) == ConnectStart::Waiting)
        link->ConnectWhenResolved = true;
    link->MarkChanged();
    NetLinks.push_back(std::move(link));
    UpdateLineReports();
    return NetLinks.back().get();
}

CNetObject* CPortObject::AddTcpServer(uint16_t listenPort, BindFailure onFailure, std::string* whyRefused,
                                      const LinkOptions& options)
{
    if (listenPort == 0)
        return nullptr;
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    auto link = std::make_unique<CNetObject>(TcpServer);
    link->LocalPort = listenPort;
    link->LocalAddr = options.LocalAddr;
    link->Rfc2217 = options.Rfc2217;
    return AddListening(std::move(link), onFailure, whyRefused);
}

CNetObject* CPortObject::AddUdp(uint16_t localPort, const char* host, uint16_t remotePort, BindFailure onFailure,
                                std::string* whyRefused, const LinkOptions& options)
{
    if (localPort == 0 || !host || remotePort == 0)
        return nullptr;
    CGuard guard(ManagerLock);
    ManagerLock->Touch();
    auto link = std::make_unique<CNetObject>(Udp);
    link->LocalPort = localPort;
    link->LocalAddr = options.LocalAddr;
    link->RemoteAddr = host;
    link->RemotePort = remotePort;
    return AddListening(std::move(link), onFailure, whyRefused);
}

CNetObject* CPortObject::AddListening(std::unique_ptr<CNetObject> link, BindFailure onFailure,
                                      std::string* whyRefused)
{
    QLN_ASSERT_HELD(ManagerLock);
    if (!Listen(*link)) {
        if (onFailure == BindFailure::Refuse) {
            if (whyRefused)
                *whyRefused = link->LastError;
            return nullptr;
        }
        link->LastFailTime = GetTickCount32();
    }
    NetLinks.push_back(std::move(link));
    return NetLinks.back().get();
}

bool CPortObject::Listen(CNetObject& link)
{
    QLN_ASSERT_HELD(ManagerLock);
    // A stored address that is not numeric never falls back to every interface: the
    // link waits, not listening, with the reason.
    NetAddress local;
    if (!link.LocalAddr.empty() && !NetAddress::FromNumeric(link.LocalAddr.c_str(), local)) {
        link.LastError = link.LocalAddr + " is not a numeric address";
        return false;
    }
    auto bind = [&](auto& slot) {
        using Socket = typename std::remove_reference_t<decltype(slot)>::element_type;
        auto socket = std::make_unique<Socket>(static_cast<uint16_t>(link.LocalPort), local);
        // A socket that failed goes before it has a handler: its close reports nothing.
        if (socket->GetLastResult() != 0) {
            link.LastError = socket->LastErrorReason();
            return false;
        }
        socket->SetHandler(this);
        socket->SetUserData(&link);
        slot = std::move(socket);
        return true;
    };
    switch (link.Type) {
    case TcpServer:
        return bind(link.ServerSocket);
    case Udp:
        return bind(link.DatagramSocket);
    case TcpClient:
        break;
    }
    return false;
}

void CPortObject::RetryListen(CNetObject& link)
{
    QLN_ASSERT_HELD(ManagerLock);
    const int32_t now = GetTickCount32();
    if (!TickElapsed(now, link.LastFailTime, ListenRetryInterval))
        return;
    if (Listen(link))
        link.MarkChanged(); // the window shows it listening from the next tick
    else
        link.LastFailTime = now;
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
        std::unique_ptr<CNetObject> owned = std::move(*it);
        NetLinks.erase(it);
        // Closing a socket reports OnClose for this link, which only marks it; the
        // link still exists until the end of this block.
        switch (owned->Type) {
        case TcpClient:
            owned->ClientSocket.reset();
            break;
        case TcpServer:
            while (!owned->Clients.empty())
                owned->Clients.pop_front();
            owned->ServerSocket.reset();
            break;
        case Udp:
            owned->DatagramSocket.reset();
            break;
        }
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
    if (link->Type != TcpClient || !link->ClientSocket
        || link->ClientSocket->GetState() != Unconnected)
        return;
    ConnectStart started = StartConnect(*link);
    if (started == ConnectStart::Started)
        link->MarkChanged();
    else if (started == ConnectStart::Waiting)
        link->ConnectWhenResolved = true;
}

bool CPortObject::ReplaceLink(CNetObject* old, CNetObject* fresh, std::string* whyRefused)
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

    const bool samePort = fresh->Type == old->Type && fresh->LocalPort == old->LocalPort && old->IsListening();
    if (!fresh->IsListening() && samePort && fresh->LocalAddr != old->LocalAddr) {
        // The same port on another address: old's socket holds the port, so it goes
        // first, and comes back when the new address cannot be had. Its connections
        // came in on the address given up: they go with old, unless it stays.
        old->ServerSocket.reset();
        old->DatagramSocket.reset();
        if (Listen(*fresh)) {
            fresh->LastError.clear();
            fresh->MarkChanged();
        } else if (!Listen(*old)) {
            old->LastFailTime = GetTickCount32();
        }
        old->MarkChanged();
    }
    if (!fresh->IsListening() && samePort && fresh->LocalAddr == old->LocalAddr) {
        // The sockets report their events for the link in their user data.
        auto handOver = [fresh](auto& from, auto& to) {
            to = std::move(from);
            to->SetUserData(fresh);
        };
        if (old->Type == TcpServer) {
            handOver(old->ServerSocket, fresh->ServerSocket);
            fresh->Clients = std::move(old->Clients);
            old->Clients.clear();
            for (AcceptedClient& client : fresh->Clients)
                client.Socket->SetUserData(fresh);
        } else if (old->Type == Udp) {
            handOver(old->DatagramSocket, fresh->DatagramSocket);
            fresh->Taken = old->Taken;
            fresh->WaitsWritable = old->WaitsWritable;
        }
        fresh->LastError.clear();
        fresh->MarkChanged();
    }
    if (!fresh->IsListening()) {
        if (whyRefused)
            *whyRefused = fresh->LastError;
        RemoveLink(fresh);
        return false;
    }
    // The fresh link was appended; it takes the old one's place in the list.
    NetLinks.splice(oldAt, NetLinks, freshAt);
    RemoveLink(old);
    return true;
}
