// The service step of one port: driver to queues, queues to links, links polled.
#include <algorithm>
#include <cerrno>

#include "platform/base/TickCount.h"
#include "forwarding/DriverInterface.h"
#include "forwarding/PortObject.h"

namespace {

constexpr uint32_t ChunkSize = 8192;

// One chunk buffer for the pump thread. Every step finishes with it before the
// next begins; thread_local keeps two managers in one test process apart.
thread_local uint8_t TransferBuffer[ChunkSize];

} // namespace

int32_t CPortObject::Pump()
{
    CGuard guard(ManagerLock);
    int32_t work = 0;

    // Deliver received bytes to the application, within the driver's free space.
    if (!FromNetQueue.IsEmpty()
        && TickElapsed(GetTickCount32(), FromNetStamp, ReceiveFromNetDelayTime)) {
        PortStatus status {};
        if (QueryStatus(this, &status) && status.FreeSpace > 0) {
            uint32_t m = static_cast<uint32_t>(std::min<size_t>(FromNetQueue.Size(), status.FreeSpace));
            m = std::min(m, ChunkSize);
            FromNetQueue.CopyFront(TransferBuffer, m);
            if (WritePort(this, TransferBuffer, m)) {
                FromNetQueue.RemoveFront(m);
                WriteLog(true, TransferBuffer, m);
            }
        }
    }

    // Take bytes from the application, only while nothing waits to go out.
    if (ToNetQueue.IsEmpty()) {
        uint32_t count = 0;
        if (ReadPort(this, TransferBuffer, ChunkSize, &count) && count > 0) {
            ToNetStamp = GetTickCount32();
            ToNetQueue.Append(TransferBuffer, count);
        }
    }

    // The outbound chunk, once the send delay has passed.
    uint32_t n = 0;
    if (!ToNetQueue.IsEmpty() && TickElapsed(GetTickCount32(), ToNetStamp, SendToNetDelayTime)) {
        n = static_cast<uint32_t>(std::min<size_t>(ToNetQueue.Size(), ChunkSize));
        ToNetQueue.CopyFront(TransferBuffer, n);
    }

    bool allTaken = true;
    work += ServeLinks(n ? TransferBuffer : nullptr, n, allTaken);

    // The chunk leaves, and is logged once, when every link has all of it.
    if (n && allTaken) {
        ToNetQueue.RemoveFront(n);
        ResetChunkProgress();
        WriteLog(false, TransferBuffer, n);
    }
    return work;
}

// Serves every link in list order. Each link, and each accepted client of a server
// link, takes each chunk once: `Taken` remembers how much of it a peer already has,
// so a chunk held back by one link is never sent again to another. Once a link
// holds the chunk back, the links after it are not offered it in this step.
int32_t CPortObject::ServeLinks(const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    for (auto& link : NetLinks) {
        // A link still waiting for its local port takes no part in the traffic, as if
        // it were not there yet; it only tries to bind again now and then.
        if (!link->IsListening()) {
            RetryListen(*link);
            continue;
        }
        const uint8_t* offer = allTaken ? chunk : nullptr;
        switch (link->Type) {
        case TcpClient:
            work += ServeTcpClient(*link, offer, length, allTaken);
            break;
        case TcpServer:
            work += ServeTcpServer(*link, offer, length, allTaken);
            break;
        case Udp:
            work += ServeUdp(*link, offer, length, allTaken);
            break;
        default:
            break;
        }
    }
    return work;
}

int32_t CPortObject::ServeTcpClient(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    CClientSocket& socket = *link.ClientSocket;
    if (chunk && link.Taken < length) {
        if (socket.GetState() != CClientSocket::Connected) {
            // Not connected: the chunk waits, and waiting is not work.
            allTaken = false;
        } else {
            int32_t sent = 0;
            bool ok = socket.Send(chunk + link.Taken, static_cast<int32_t>(length - link.Taken), &sent);
            link.Taken += static_cast<uint32_t>(std::max(sent, 0));
            if (!ok)
                allTaken = false;
            work += 1;
        }
    }
    if (socket.GetState() != CClientSocket::Connected || !FromNetFull())
        work += socket.Poll();
    FinishWaitingConnect(link);
    TryAutoReconnect(link);
    return work;
}

int32_t CPortObject::ServeTcpServer(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    if (chunk) {
        bool refused = false;
        for (auto& client : link.Clients) {
            if (client.Taken >= length || client.Socket->GetState() != CClientSocket::Connected)
                continue;
            int32_t sent = 0;
            bool ok = client.Socket->Send(chunk + client.Taken, static_cast<int32_t>(length - client.Taken), &sent);
            client.Taken += static_cast<uint32_t>(std::max(sent, 0));
            if (!ok)
                refused = true;
            work += 1;
        }
        if (refused)
            allTaken = false;
    }
    // A connection accepted here starts with nothing of the current chunk; it gets
    // the chunk from the next step on if the chunk is still held back then.
    work += link.ServerSocket->Poll();
    const bool full = FromNetFull();
    for (auto it = link.Clients.begin(); it != link.Clients.end();) {
        if (!full)
            work += it->Socket->Poll();
        if (it->Socket->GetState() == CClientSocket::Unconnected)
            it = link.Clients.erase(it);
        else
            ++it;
    }
    return work;
}

int32_t CPortObject::ServeUdp(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    if (chunk && link.Taken < length) {
        NetAddress to;
        errno = 0;
        if (!UdpDestination(link, to)) {
            // Held until the host's address is known: the resolver's answer, or the
            // time for the next lookup, wakes the pump.
            allTaken = false;
        } else if (link.DatagramSocket->SendTo(chunk, static_cast<int32_t>(length), to)) {
            link.Taken = length;
            work += 1;
        } else {
            allTaken = false;
            // A full send buffer clears by itself; a host that does not resolve or a
            // refused destination does not, and retrying it is no work.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
                work += 1;
            else
                UdpRefused = true;
        }
    }
    work += link.DatagramSocket->Poll();
    return work;
}

// While the application is far behind, TCP connections are left unread: their
// peers wait under TCP's own flow control instead of the console queueing without
// bound (a port nobody holds, or an application that stopped reading, would
// otherwise take memory for as long as the peers send). Datagrams have no such
// flow control, so UDP links are always read and nothing they deliver is dropped.
bool CPortObject::FromNetFull() const
{
    return FromNetQueue.Size() >= FromNetHighWater;
}

void CPortObject::ResetChunkProgress()
{
    for (auto& link : NetLinks) {
        link->Taken = 0;
        for (auto& client : link->Clients)
            client.Taken = 0;
    }
    UdpRefused = false;
}

void CPortObject::TryAutoReconnect(CNetObject& link)
{
    CClientSocket& socket = *link.ClientSocket;
    if (socket.GetState() != CClientSocket::Unconnected || !link.AutoReconnect)
        return;
    int32_t now = GetTickCount32();
    if (!TickElapsed(now, link.LastFailTime, link.ReconnectIntervalTime))
        return;
    // One that waits for its host's lookup is made when the answer wakes the pump.
    ConnectStart started = StartConnect(link);
    if (started == ConnectStart::Started)
        link.Changed = true;
    else if (started == ConnectStart::Failed)
        link.LastFailTime = GetTickCount32();
}
