// Implements CPortObject's side of the pump's wait: what each of its descriptors is
// waited on for, what the wait reported, and when the port is due by time.
#include <algorithm>
#include <sys/epoll.h>

#include "forwarding/PortObject.h"
#include "forwarding/PumpPoller.h"
#include "platform/base/TickCount.h"

namespace {

// What a connected TCP socket may report that the next step acts on. While the
// application is far behind the socket is not read, but a peer that leaves is:
// unless it already closed its side, whose hang-up would then be reported forever.
uint32_t ConnectionEvents(const CClientSocket& socket, bool waitsWritable, bool full)
{
    uint32_t events = waitsWritable ? static_cast<uint32_t>(EPOLLOUT) : 0u;
    if (!full)
        events |= EPOLLIN;
    else if (!socket.GetPeerShutdown())
        events |= EPOLLRDHUP;
    // A peer that closed with bytes unread still reports a reset (hang-up and
    // error come unasked).
    return events ? events : EPOLLHUP;
}

// How long a UDP link that the system refused waits before the chunk is offered
// again (a broadcast address without permission, a system short of buffers):
// nothing reports the end of such a refusal.
constexpr int32_t RefusedRetry = 100;
// How often a port looks for an application where the system gives no open notice.
constexpr int32_t OpenLookInterval = 50;

} // namespace

int32_t CPortObject::ReconnectDue(const CNetObject& link) const
{
    int32_t afterFailure = TickAfter(link.LastFailTime, std::max(link.ReconnectIntervalTime, ReconnectFloor));
    int32_t afterAttempt = TickAfter(link.LastAttemptTime, ReconnectFloor);
    return TickElapsed(afterAttempt, afterFailure, 0) ? afterAttempt : afterFailure;
}

void CPortObject::GiveReadiness(uint64_t token, uint32_t events)
{
    QLN_ASSERT_HELD(ManagerLock);
    Ready = true;
    if (token == MasterWatch.Token) {
        MasterEvents |= events;
        return;
    }
    ForEachSocket([&](CSocket& socket) {
        if (socket.Watch.Token != token)
            return true;
        socket.GiveReadiness(events);
        return false;
    });
}

bool CPortObject::IsDue(int32_t now) const
{
    return Ready || (HasDue && TickElapsed(now, Due, 0));
}

void CPortObject::DueBy(int32_t tick)
{
    if (!HasDue || TickDiff(tick, Due) < 0)
        Due = tick;
    HasDue = true;
}

void CPortObject::Watch(PumpPoller& poller)
{
    QLN_ASSERT_HELD(ManagerLock);
    const int32_t now = GetTickCount32();
    HasDue = false;

    // The application's side.
    bool deliverable = false;
    if (!FromNetQueue.IsEmpty()) {
        if (TickElapsed(now, FromNetStamp, ReceiveFromNetDelayTime))
            deliverable = true;
        else
            DueBy(TickAfter(FromNetStamp, ReceiveFromNetDelayTime));
    }
    PortDriver::Wait driver;
    if (DriverHandleValue != INVALID_DRIVER_HANDLE) {
        // An application that let go shows as a hang-up of the master; one that took
        // the port shows through the open notice, which serves every port.
        const bool refresh = (MasterEvents & (EPOLLHUP | EPOLLERR)) || LookingForApplication;
        driver = PortDriver::Instance().WaitFor(DriverHandleValue, ToNetQueue.IsEmpty(), deliverable, refresh);
        if (driver.Now)
            DueBy(now);
        if (driver.Poll)
            DueBy(TickAfter(now, OpenLookInterval));
    }
    const uint32_t masterEvents = driver.Fd < 0 ? 0 : (driver.Events ? static_cast<uint32_t>(driver.Events) : EPOLLHUP);
    // The master stays open with the driver when the application lets go or the
    // handle is closed, so its registration does not go by itself: it is taken out
    // of the wait, or it would be reported for ever.
    if (MasterWatch.Token != 0
        && (driver.Fd != MasterWatch.Fd || MasterWatch.Opening != static_cast<uint64_t>(DriverHandleValue)))
        poller.Remove(MasterWatch);
    poller.Update(MasterWatch, driver.Fd, static_cast<uint64_t>(DriverHandleValue), masterEvents, Serial);
    MasterEvents = 0;
    LookingForApplication = driver.Poll;

    // The network's side.
    bool chunkDue = false;
    if (!ToNetQueue.IsEmpty()) {
        if (TickElapsed(now, ToNetStamp, SendToNetDelayTime))
            chunkDue = true;
        else
            DueBy(TickAfter(ToNetStamp, SendToNetDelayTime));
    }
    if (chunkDue && UdpRefused)
        DueBy(TickAfter(now, RefusedRetry));
    // The step offers the chunk before it polls: a peer that came up in it takes the
    // chunk in the next step, at once.
    if (chunkDue && PeerCameUp)
        DueBy(now);
    PeerCameUp = false;

    const bool full = FromNetFull();
    auto watch = [&](CSocket& socket, uint32_t events) {
        poller.Update(socket.Watch, socket.GetHandle(), socket.GetOpening(), events, Serial);
        socket.ClearReadiness();
    };
    for (auto& link : NetLinks) {
        if (!link->IsListening()) {
            DueBy(TickAfter(link->LastFailTime, ListenRetryInterval));
            continue;
        }
        switch (link->Type) {
        case TcpClient: {
            CClientSocket& socket = *link->ClientSocket;
            uint32_t events = 0;
            switch (socket.GetState()) {
            case Connected:
                events = ConnectionEvents(socket, link->WaitsWritable, full || WireBacklog(ProtocolOf(*link, &socket)));
                break;
            case Connecting:
                events = EPOLLOUT;
                break;
            case Unconnected:
                // A failed attempt's descriptor stays open, reporting its failure:
                // it is not waited on. While its host is looked up the link waits
                // for the resolver's answer.
                if (link->AutoReconnect && !link->Remote.Waiting())
                    DueBy(ReconnectDue(*link));
                break;
            }
            watch(socket, events);
            break;
        }
        case TcpServer:
            if (AcceptPaused(*link, now))
                DueBy(TickAfter(link->AcceptPausedAt, link->AcceptBackoff));
            watch(*link->ServerSocket, AcceptPaused(*link, now) ? 0u : static_cast<uint32_t>(EPOLLIN));
            for (auto& client : link->Clients)
                watch(*client.Socket,
                      ConnectionEvents(*client.Socket, client.WaitsWritable, full || WireBacklog(client.Protocol.get())));
            break;
        case Udp: {
            watch(*link->DatagramSocket, link->WaitsWritable ? EPOLLIN | EPOLLOUT : EPOLLIN);
            int32_t retry = 0;
            if (chunkDue && link->Remote.RetryAhead(now, HostCache::UdpRetryAfter, retry))
                DueBy(retry);
            break;
        }
        }
    }
    Ready = false;
}

void CPortObject::StopWatching(PumpPoller& poller)
{
    QLN_ASSERT_HELD(ManagerLock);
    // The master outlives the port (the driver keeps it); the sockets close with it.
    poller.Remove(MasterWatch);
    ForEachSocket([&](CSocket& socket) {
        poller.Forget(socket.Watch);
        return true;
    });
}
