// Implements CPortObject's socket events: what its links' sockets report, always
// with the manager lock held (the pump's polls, or a link's removal).
#include <algorithm>
#include <memory>
#include <vector>

#include "forwarding/PortObject.h"
#include "forwarding/PumpPoller.h"
#include "platform/base/TickCount.h"

void CPortObject::OnAccept(CServerSocket*, CClientSocket* client, void* userData)
{
    QLN_ASSERT_HELD(ManagerLock);
    try {
        std::unique_ptr<CClientSocket> owned(client);
        auto* link = static_cast<CNetObject*>(userData);
        if (!owned || !link)
            return;
        owned->SetNoDelay(true);
        owned->SetHandler(this);
        owned->SetUserData(link);
        AcceptedClient accepted;
        accepted.Peer = owned->GetPeer().ToText();
        accepted.Socket = std::move(owned);
        if (link->Rfc2217)
            StartProtocol(accepted.Protocol, ComPortSession::Role::Server);
        link->Clients.push_back(std::move(accepted));
        PeerCameUp = true;
        link->MarkChanged();
    } catch (...) {
    }
}

void CPortObject::OnClose(CSocket* socket, void* userData)
{
    QLN_ASSERT_HELD(ManagerLock);
    // The descriptor is gone, and with it what the pump waited on.
    if (Poller && socket)
        Poller->Forget(socket->Watch);
    try {
        auto* link = static_cast<CNetObject*>(userData);
        if (!link)
            return;
        if (link->Type == TcpClient && link->ClientSocket && link->ClientSocket->GetClosedByPeer()) {
            link->LastError = "Closed by the peer";
            if (link->AutoReconnect)
                link->LastFailTime = GetTickCount32();
        }
        link->MarkChanged();
    } catch (...) {
    }
}

void CPortObject::OnConnect(CClientSocket* socket, bool success, void* userData)
{
    QLN_ASSERT_HELD(ManagerLock);
    try {
        auto* link = static_cast<CNetObject*>(userData);
        if (!link)
            return;
        if (success && socket)
            socket->SetNoDelay(true);
        if (success && link->Type == TcpClient && link->Rfc2217)
            StartProtocol(link->Protocol, ComPortSession::Role::Client);
        if (success)
            PeerCameUp = true;
        if (!success) {
            if (socket)
                link->LastError = socket->LastErrorReason();
            // The next address of the host, if it has one, is tried right after this
            // poll; the reconnect interval counts from the failure of the last.
            if (link->Remote.Advance())
                link->NextAddressDue = true;
            else if (link->AutoReconnect)
                link->LastFailTime = GetTickCount32();
        }
        link->MarkChanged();
    } catch (...) {
    }
}

void CPortObject::OnReceive(CSocket* socket, uint32_t count, void* userData)
{
    QLN_ASSERT_HELD(ManagerLock);
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
        // At most ReceiveLimit at a time: what is left stays in the system (and is
        // reported again), so a stalled port holds no more than the socket buffers.
        static thread_local std::vector<uint8_t> buffer(ReceiveLimit);
        count = std::min(count, ReceiveLimit);
        bool ok;
        if (link->Type == Udp) {
            ok = static_cast<CDatagramSocket*>(socket)->ReceiveFrom(buffer.data(), &count);
        } else {
            ok = static_cast<CClientSocket*>(socket)->Receive(buffer.data(), static_cast<int32_t>(count));
        }
        if (!ok || count == 0)
            return;
        // On a connection with line control only the data bytes go on; the session's
        // answers wait in its wire buffer.
        static thread_local std::vector<uint8_t> decoded;
        const std::vector<uint8_t>* data = &buffer;
        if (link->Type != Udp && DecodeReceived(*link, socket, buffer.data(), count, decoded)) {
            data = &decoded;
            count = static_cast<uint32_t>(decoded.size());
            if (count == 0)
                return;
        }
        link->BytesReceived += count;
        if (FromNetQueue.IsEmpty())
            FromNetStamp = GetTickCount32();
        FromNetQueue.Append(data->data(), count);
    } catch (...) {
    }
}
