// What a pump that found no work should wait for on one port.
#include "platform/base/TickCount.h"
#include "platform/WaitSet.h"
#include "forwarding/PortObject.h"

namespace {

int32_t TickAfter(int32_t stamp, int32_t interval)
{
    return static_cast<int32_t>(static_cast<uint32_t>(stamp) + static_cast<uint32_t>(interval));
}

} // namespace

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
    if (DriverHandleValue != INVALID_DRIVER_HANDLE)
        PortDriver::Instance().CollectWaits(DriverHandleValue, ToNetQueue.IsEmpty(), deliverable, waits);

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
            case CClientSocket::Connected:
                waits.Add(socket.GetHandle(), FromNetFull() ? 0 : POLLIN);
                break;
            case CClientSocket::Connecting:
                waits.Add(socket.GetHandle(), POLLOUT);
                break;
            default:
                // While its host is looked up the link waits for the resolver's answer.
                if (link->AutoReconnect && !link->Remote.Waiting())
                    waits.Deadline(TickAfter(link->LastFailTime, link->ReconnectIntervalTime));
                break;
            }
            break;
        }
        case TcpServer:
            waits.Add(link->ServerSocket->GetHandle(), POLLIN);
            if (!FromNetFull()) {
                for (auto& client : link->Clients)
                    waits.Add(client.Socket->GetHandle(), POLLIN);
            }
            break;
        case Udp: {
            waits.Add(link->DatagramSocket->GetHandle(), POLLIN);
            int32_t retry = 0;
            if (chunkDue && link->Remote.RetryAhead(now, HostCache::UdpRetryAfter, retry))
                waits.Deadline(retry);
            break;
        }
        default:
            break;
        }
    }
}
