// Implements CPortObject::Pump, the service step of one port: driver to queues,
// queues to links, links polled.
#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>

#include "platform/base/TickCount.h"
#include "forwarding/DriverInterface.h"
#include "forwarding/PortObject.h"

namespace {

constexpr uint32_t ChunkSize = 8192;

// One chunk buffer for the pump thread. Every step finishes with it before the
// next begins; thread_local keeps two managers in one test process apart.
thread_local uint8_t TransferBuffer[ChunkSize];

// How long a server link stops accepting once descriptors run out: the first
// pause, doubled while the shortage lasts up to the longest. Milliseconds.
constexpr int32_t AcceptPauseFirst = 250;
constexpr int32_t AcceptPauseLongest = 2000;

// Offers what `taken` says is still missing of the chunk to one connection. A send
// that moved bytes, or found the connection broken and closed it, is work; one
// that would block is not: it sets `waitsWritable`, and a pump with nothing else
// to do sleeps until the socket has room instead of offering the chunk again.
int32_t SendRest(CClientSocket& socket, const uint8_t* chunk, uint32_t length, uint32_t& taken,
                 bool& waitsWritable, bool& refused, uint64_t& bytesSent)
{
    int32_t sent = 0;
    bool ok = socket.Send(chunk + taken, static_cast<int32_t>(length - taken), &sent);
    taken += static_cast<uint32_t>(std::max(sent, 0));
    bytesSent += static_cast<uint64_t>(std::max(sent, 0));
    if (ok)
        return 1;
    refused = true;
    if (socket.GetState() != Connected)
        return 1;
    waitsWritable = true;
    return sent > 0 ? 1 : 0;
}

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
                BytesToApplication += m;
                WriteLog(true, TransferBuffer, m);
            }
        }
    }

    // Take bytes from the application, only while nothing waits to go out, and only
    // when the pump's wait found the master readable (or hung up, which the read
    // then tells): an idle port costs no read.
    if (ToNetQueue.IsEmpty() && (MasterEvents & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
        uint32_t count = 0;
        if (ReadPort(this, TransferBuffer, ChunkSize, &count) && count > 0) {
            ToNetStamp = GetTickCount32();
            ToNetQueue.Append(TransferBuffer, count);
            BytesFromApplication += count;
        }
        work += TakeLineReports();
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
    QLN_ASSERT_HELD(ManagerLock);
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
        }
    }
    return work;
}

int32_t CPortObject::ServeTcpClient(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    CClientSocket& socket = *link.ClientSocket;
    link.WaitsWritable = false;
    if (chunk && link.Taken < length) {
        if (socket.GetState() != Connected) {
            // Not connected: the chunk waits, and waiting is not work.
            allTaken = false;
        } else {
            bool refused = false;
            LinkProtocol* protocol = ProtocolOf(link, &socket);
            work += protocol ? OfferEncoded(socket, *protocol, chunk, length, link.Taken, link.WaitsWritable, refused,
                                            link.BytesSent)
                             : SendRest(socket, chunk, length, link.Taken, link.WaitsWritable, refused, link.BytesSent);
            if (refused)
                allTaken = false;
        }
    }
    work += PollConnection(socket, ProtocolOf(link, &socket));
    work += ServeWire(socket, ProtocolOf(link, &socket), link.WaitsWritable);
    TryNextAddress(link);
    FinishWaitingConnect(link);
    TryAutoReconnect(link);
    return work;
}

int32_t CPortObject::ServeTcpServer(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    bool refused = false;
    for (auto& client : link.Clients) {
        client.WaitsWritable = false;
        if (!chunk || client.Taken >= length || client.Socket->GetState() != Connected)
            continue;
        work += client.Protocol ? OfferEncoded(*client.Socket, *client.Protocol, chunk, length, client.Taken,
                                               client.WaitsWritable, refused, link.BytesSent)
                                : SendRest(*client.Socket, chunk, length, client.Taken, client.WaitsWritable, refused,
                                           link.BytesSent);
    }
    if (refused)
        allTaken = false;
    // A connection accepted here starts with nothing of the current chunk; it gets
    // the chunk from the next step on if the chunk is still held back then.
    work += ServeListener(link);
    for (auto it = link.Clients.begin(); it != link.Clients.end();) {
        work += PollConnection(*it->Socket, it->Protocol.get());
        work += ServeWire(*it->Socket, it->Protocol.get(), it->WaitsWritable);
        if (it->Socket->GetState() == Unconnected)
            it = link.Clients.erase(it);
        else
            ++it;
    }
    return work;
}

int32_t CPortObject::ServeUdp(CNetObject& link, const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    link.WaitsWritable = false;
    if (chunk && link.Taken < length) {
        NetAddress to;
        errno = 0;
        if (!UdpDestination(link, to)) {
            // Held until the host's address is known: the resolver's answer, or the
            // time for the next lookup, wakes the pump.
            allTaken = false;
        } else if (link.DatagramSocket->SendTo(chunk, static_cast<int32_t>(length), to)) {
            link.Taken = length;
            link.BytesSent += length;
            work += 1;
        } else {
            allTaken = false;
            // A full send buffer reports its end as writability; a host that does not
            // resolve, a refused destination or a system short of buffers does not.
            // Retrying either is no work.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                link.WaitsWritable = true;
            } else {
                UdpRefused = true;
                link.LastError = link.DatagramSocket->LastErrorReason();
            }
        }
    }
    work += link.DatagramSocket->Poll();
    return work;
}

// While the application is far behind, TCP connections are left unread: their
// peers wait under TCP's own flow control instead of the console queueing without
// bound (a port nobody holds, or an application that stopped reading, would
// otherwise take memory for as long as the peers send). Datagrams have no such
// flow control: UDP links are always read, and beyond FromNetUdpCap what they
// deliver is dropped (OnReceive).
bool CPortObject::FromNetFull() const
{
    return FromNetQueue.Size() >= FromNetHighWater;
}

// The mark is checked before every read, not once per pass, so a pass over many
// clients cannot read far past it. An unread connection is still watched for its
// peer leaving, so a peer that resets or closes is noticed and let go.
int32_t CPortObject::PollConnection(CClientSocket& socket, const LinkProtocol* protocol)
{
    if (socket.GetState() == Connected && (FromNetFull() || WireBacklog(protocol)))
        return socket.PollHangUp();
    return socket.Poll();
}

bool CPortObject::AcceptPaused(const CNetObject& link, int32_t now)
{
    return link.AcceptBackoff != 0 && !TickElapsed(now, link.AcceptPausedAt, link.AcceptBackoff);
}

int32_t CPortObject::ServeListener(CNetObject& link)
{
    const int32_t now = GetTickCount32();
    if (AcceptPaused(link, now))
        return 0;
    int32_t found = link.ServerSocket->Poll();
    if (!found || !link.ServerSocket->OutOfDescriptors()) {
        if (found)
            link.AcceptBackoff = 0;
        return found;
    }
    // Out of descriptors the connection stays queued and the listener readable:
    // polling it again at once would spin. It rests, longer while the shortage
    // lasts; the connections already accepted are served meanwhile.
    link.AcceptBackoff = link.AcceptBackoff ? std::min(link.AcceptBackoff * 2, AcceptPauseLongest) : AcceptPauseFirst;
    link.AcceptPausedAt = now;
    return 0;
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
    if (socket.GetState() != Unconnected || !link.AutoReconnect)
        return;
    int32_t now = GetTickCount32();
    if (!TickElapsed(now, ReconnectDue(link), 0))
        return;
    // One that waits for its host's lookup is made when the answer wakes the pump.
    ConnectStart started = StartConnect(link);
    if (started != ConnectStart::Waiting)
        link.LastAttemptTime = now;
    if (started == ConnectStart::Started)
        link.MarkChanged();
    else if (started == ConnectStart::Failed)
        link.LastFailTime = GetTickCount32();
}
