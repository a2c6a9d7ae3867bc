// The links of a port: setting them up, removing them, and the socket events they
// report to the port.
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <type_traits>
#include <vector>

#include "platform/base/TickCount.h"
#include "forwarding/PortObject.h"

CNetObject* CPortObject::AddTcpClient(const char* host, uint16_t remotePort)
{
    if (!host || remotePort == 0)
        return nullptr;
    CGuard guard(ManagerLock);
    auto link = std::make_unique<CNetObject>(TcpClient);
    link->ClientSocket = std::make_unique<CClientSocket>();
    link->ClientSocket->SetHandler(this);
    link->ClientSocket->SetUserData(link.get());
    link->RemoteAddr = host;
    link->RemotePort = remotePort;
    // A first attempt that cannot even start still makes the link; the pump tries
    // again once the reconnect interval has passed. One that waits for the host's
    // lookup starts when the answer comes.
    if (StartConnect(*link) == ConnectStart::Waiting)
        link->ConnectWhenResolved = true;
    link->Changed = true;
    NetLinks.push_back(std::move(link));
    return NetLinks.back().get();
}

CNetObject* CPortObject::AddTcpServer(uint16_t listenPort, BindFailure onFailure)
{
    if (listenPort == 0)
        return nullptr;
    CGuard guard(ManagerLock);
    auto link = std::make_unique<CNetObject>(TcpServer);
    link->LocalPort = listenPort;
    if (!Listen(*link)) {
        if (onFailure == BindFailure::Refuse)
            return nullptr;
        link->LastFailTime = GetTickCount32();
    }
    NetLinks.push_back(std::move(link));
    return NetLinks.back().get();
}

CNetObject* CPortObject::AddUdp(uint16_t localPort, const char* host, uint16_t remotePort, BindFailure onFailure)
{
    if (localPort == 0 || !host || remotePort == 0)
        return nullptr;
    CGuard guard(ManagerLock);
    auto link = std::make_unique<CNetObject>(Udp);
    link->LocalPort = localPort;
    link->RemoteAddr = host;
    link->RemotePort = remotePort;
    if (!Listen(*link)) {
        if (onFailure == BindFailure::Refuse)
            return nullptr;
        link->LastFailTime = GetTickCount32();
    }
    NetLinks.push_back(std::move(link));
    return NetLinks.back().get();
}

bool CPortObject::Listen(CNetObject& link)
{
    auto bind = [&](auto& slot) {
        using Socket = typename std::remove_reference_t<decltype(slot)>::element_type;
        auto socket = std::make_unique<Socket>(static_cast<uint16_t>(link.LocalPort));
        // A socket that failed goes before it has a handler: its close reports nothing.
        if (socket->GetLastResult() != 0)
            return false;
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
    const int32_t now = GetTickCount32();
    if (!TickElapsed(now, link.LastFailTime, ListenRetryInterval))
        return;
    if (Listen(link))
        link.Changed = true; // the window shows it listening from the next tick
    else
        link.LastFailTime = now;
}

void CPortObject::RemoveLink(CNetObject* link)
{
    if (!link)
        return;
    CGuard guard(ManagerLock);
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
        return;
    }
}

void CPortObject::Reconnect(CNetObject* link)
{
    if (!link)
        return;
    CGuard guard(ManagerLock);
    if (link->Type != TcpClient || !link->ClientSocket
        || link->ClientSocket->GetState() != Unconnected)
        return;
    ConnectStart started = StartConnect(*link);
    if (started == ConnectStart::Started)
        link->Changed = true;
    else if (started == ConnectStart::Waiting)
        link->ConnectWhenResolved = true;
}

void CPortObject::OnAccept(CServerSocket*, CClientSocket* client, void* userData)
{
    try {
        std::unique_ptr<CClientSocket> owned(client);
        auto* link = static_cast<CNetObject*>(userData);
        if (!owned || !link)
            return;
        owned->SetNoDelay(true);
        owned->SetHandler(this);
        owned->SetUserData(link);
        link->Clients.push_back(AcceptedClient {std::move(owned), 0});
        link->Changed = true;
    } catch (...) {
    }
}

void CPortObject::OnClose(CSocket*, void* userData)
{
    try {
        auto* link = static_cast<CNetObject*>(userData);
        if (!link)
            return;
        if (link->Type == TcpClient && link->ClientSocket && link->ClientSocket->GetClosedByPeer()
            && link->AutoReconnect)
            link->LastFailTime = GetTickCount32();
        link->Changed = true;
    } catch (...) {
    }
}

void CPortObject::OnConnect(CClientSocket* socket, bool success, void* userData)
{
    try {
        auto* link = static_cast<CNetObject*>(userData);
        if (!link)
            return;
        if (success && socket)
            socket->SetNoDelay(true);
        if (!success)
            link->Remote.Distrust();
        if (!success && link->AutoReconnect)
            link->LastFailTime = GetTickCount32();
        link->Changed = true;
    } catch (...) {
    }
}

void CPortObject::OnReceive(CSocket* socket, uint32_t count, void* userData)
{
    try {
        auto* link = static_cast<CNetObject*>(userData);
        if (!link || !socket || count == 0)
            return;
        if (link->Type == Udp && FromNetQueue.Size() + count > FromNetUdpCap) {
            // Read, so the socket does not stay readable, and drop the datagram
            // whole: a one-byte read takes all of it and keeps one byte.
            uint8_t discard;
            uint32_t length = sizeof discard;
            if (static_cast<CDatagramSocket*>(socket)->ReceiveFrom(&discard, &length))
                ++DroppedDatagrams;
            return;
        }
        std::vector<uint8_t> buffer(count);
        bool ok;
        if (link->Type == Udp) {
            ok = static_cast<CDatagramSocket*>(socket)->ReceiveFrom(buffer.data(), &count);
        } else {
            ok = static_cast<CClientSocket*>(socket)->Receive(buffer.data(), static_cast<int32_t>(count));
        }
        if (!ok || count == 0)
            return;
        if (FromNetQueue.IsEmpty())
            FromNetStamp = GetTickCount32();
        FromNetQueue.Append(buffer.data(), count);
    } catch (...) {
    }
}
