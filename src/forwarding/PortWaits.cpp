// Implements CPortObject::CollectWaits: what a pump that found no work should wait
// for on one port.
#include <algorithm>

#include "platform/base/TickCount.h"
#include "forwarding/WaitSet.h"
#include "forwarding/PortObject.h"

namespace {

// What a connected TCP socket may report that the next pass acts on. While the
// application is far behind the socket is not read, but a peer that leaves is:
// unless it already closed its side, whose hang-up would then be reported forever.
short ConnectionEvents(const CClientSocket& socket, bool waitsWritable, bool full)
{
    short events = waitsWritable ? POLLOUT : 0;
    if (!full)
        events |= POLLIN;
    else if (!socket.GetPeerShutdown())
        events |= POLLRDHUP;
    return events;
}

} // namespace

int32_t CPortObject::ReconnectDue(const CNetObject& link) const
{
    int32_t afterFailure = TickAfter(link.LastFailTime, std::max(link.ReconnectIntervalTime, ReconnectFloor));
    int32_t afterAttempt = TickAfter(link.LastAttemptTime, ReconnectFloor);
    return TickElapsed(afterAttempt, afterFailure, 0) ? afterAttempt : afterFailure;
}

void CPortObject::CollectWaits(WaitSet& waits)
{
    CGuard guard(ManagerLock);
    const int32_t now = GetTickCount32();

    bool deliverable = false;
    if (!FromNetQueue.IsEmpty()) {
        if (TickElapsed(now, FromNetStamp, ReceiveFromNetDelayTime))
            deliverable = true;
        else
            waits.Deadline(TickAfter(FromNetStamp, ReceiveFromNetDelayTime));
    }
    if (DriverHandleValue != INVALID_DRIVER_HANDLE) {
        const PortDriver::Wait driver = PortDriver::Instance().WaitFor(DriverHandleValue, ToNetQueue.IsEmpty(), deliverable);
        if (driver.Now)
            waits.Deadline(0, true);
        if (driver.Poll)
            waits.MustPoll = true;
        waits.Add(driver.Fd, driver.Events, true);
    }

    bool chunkDue = false;
    if (!ToNetQueue.IsEmpty()) {
        if (TickElapsed(now, ToNetStamp, SendToNetDelayTime))
            chunkDue = true;
        else
            waits.Deadline(TickAfter(ToNetStamp, SendToNetDelayTime));
    }
    if (chunkDue && UdpRefused)
        waits.MustPoll = true;

    for (auto& link : NetLinks) {
        if (!link->IsListening()) {
            waits.Deadline(TickAfter(link->LastFailTime, ListenRetryInterval));
            continue;
        }
        switch (link->Type) {
        case TcpClient: {
            CClientSocket& socket = *link->ClientSocket;
            switch (socket.GetState()) {
            case Connected:
                waits.Add(socket.GetHandle(), ConnectionEvents(socket, link->WaitsWritable, FromNetFull()));
                break;
            case Connecting:
                waits.Add(socket.GetHandle(), POLLOUT);
                break;
            case Unconnected:
                // While its host is looked up the link waits for the resolver's answer.
                if (link->AutoReconnect && !link->Remote.Waiting())
                    waits.Deadline(ReconnectDue(*link));
                break;
            }
            break;
        }
        case TcpServer:
            if (AcceptPaused(*link, now))
                waits.Deadline(TickAfter(link->AcceptPausedAt, link->AcceptBackoff));
            else
                waits.Add(link->ServerSocket->GetHandle(), POLLIN);
            for (auto& client : link->Clients)
                waits.Add(client.Socket->GetHandle(), ConnectionEvents(*client.Socket, client.WaitsWritable, FromNetFull()));
            break;
        case Udp: {
            waits.Add(link->DatagramSocket->GetHandle(), link->WaitsWritable ? POLLIN | POLLOUT : POLLIN);
            int32_t retry = 0;
            if (chunkDue && link->Remote.RetryAhead(now, HostCache::UdpRetryAfter, retry))
                waits.Deadline(retry);
            break;
        }
        }
    }
}
