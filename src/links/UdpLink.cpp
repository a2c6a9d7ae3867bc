// Implements UdpLink: datagrams to one destination, from anyone.
#include "links/UdpLink.h"

#include <cerrno>
#include <sys/epoll.h>

#include "links/LinkWaits.h"
#include "links/PortSide.h"
#include "platform/base/CriticalSection.h"
#include "platform/base/TickCount.h"

UdpLink::UdpLink(PortSide& port, uint16_t localPort, const char* host, uint16_t remotePort,
                 const LinkOptions& options)
    : ListeningLink(NetKind::Udp, port, localPort, options)
{
    Config.RemoteAddr = host;
    Config.RemotePort = remotePort;
}

UdpLink::~UdpLink()
{
    Close();
}

Failure UdpLink::Bind(const NetAddress& local)
{
    auto socket = std::make_unique<CDatagramSocket>(static_cast<uint16_t>(Config.LocalPort), local);
    // A socket that failed goes before it has a handler: its close reports nothing.
    if (const Failure& failed = socket->GetLastFailure())
        return failed;
    socket->SetHandler(this);
    Socket = std::move(socket);
    return {};
}

bool UdpLink::TakeListenerFrom(ListeningLink& other)
{
    auto* old = dynamic_cast<UdpLink*>(&other);
    if (!old)
        return false;
    Socket = std::move(old->Socket);
    Socket->SetHandler(this);
    Taken = old->Taken;
    WaitsWritable = old->WaitsWritable;
    return true;
}

std::string UdpLink::Label() const
{
    return "udp " + (Config.LocalAddr.empty() ? std::to_string(Config.LocalPort) : HostPortText(Config.LocalAddr, static_cast<uint16_t>(Config.LocalPort)));
}

void UdpLink::ChunkDone(const uint8_t* chunk, uint32_t length)
{
    // A chunk that could not go waits, whole, for the destination to be reachable.
    if (chunk && Taken < length && !Config.RemoteAddr.empty() && HasListener())
        KeepForLater(chunk, length);
    Taken = 0;
}

bool UdpLink::Destination(NetAddress& to)
{
    if (Remote.Get(Port.Resolver(), Config.RemoteAddr, true, HostCache::UdpRetryAfter, to) != HostCache::Answer::Ready)
        return false;
    to.SetPort(Config.RemotePort);
    return true;
}

bool UdpLink::SendDatagram(const uint8_t* data, uint32_t length, const NetAddress& to)
{
    const Failure failed = Socket->SendTo(data, static_cast<int32_t>(length), to);
    if (!failed) {
        Stats.BytesSent += length;
        return true;
    }
    // A full send buffer reports its end as writability; a refused destination or a
    // system short of buffers does not, and is tried again a little later.
    if (failed.Errno == EAGAIN || failed.Errno == EWOULDBLOCK) {
        WaitsWritable = true;
    } else {
        Refused = true;
        // The socket's own record: the same failure, or, for a socket that never
        // opened, why it did not.
        Stats.LastError = Socket->GetLastFailure();
    }
    return false;
}

int32_t UdpLink::SendBacklog(const NetAddress& to)
{
    int32_t work = 0;
    while (!Kept.Empty() && SendDatagram(Kept.Front(), static_cast<uint32_t>(Kept.FrontLength()), to)) {
        Kept.Consume(Kept.FrontLength());
        ++work;
    }
    return work;
}

int32_t UdpLink::ServeListening(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer)
{
    int32_t work = 0;
    WaitsWritable = false;
    Refused = false;
    // Without a remote host the link only receives: it holds nothing and keeps nothing.
    if (Config.RemoteAddr.empty()) {
        if (chunk && Taken < length)
            Taken = length;
        work += ReadDatagram();
        return work;
    }
    NetAddress to;
    // Held until the host's address is known: the resolver's answer, or the time
    // for the next lookup, wakes the pump.
    const bool known = (chunk || !Kept.Empty()) && Destination(to);
    if (known)
        work += SendBacklog(to);
    if (known && !Refused && Kept.Empty())
        BackOnline();
    if (chunk) {
        if (Taken >= length) {
            answer.Delivered = true;
        } else if (!known || Refused) {
            answer.Waiting = true;
        } else if (!Kept.Empty()) {
            // Behind datagrams that wait for room in the socket: it joins them while
            // there is room, and holds the port when there is none.
            if (Kept.Fits(length)) {
                Kept.Keep(chunk, length);
                Taken = length;
                answer.Delivered = true;
            } else {
                answer.Held = true;
            }
        } else if (SendDatagram(chunk, length, to)) {
            Taken = length;
            answer.Delivered = true;
            work += 1;
        } else if (Refused) {
            answer.Waiting = true;
        } else {
            answer.Held = true;
        }
    }
    work += ReadDatagram();
    return work;
}

void UdpLink::ArmListening(LinkWaits& waits)
{
    waits.Watch(*Socket, WaitsWritable ? EPOLLIN | EPOLLOUT : EPOLLIN);
    // A backlog waits as a due chunk does: for the host's next lookup, or for a
    // refused destination's next try.
    const bool sending = waits.ChunkDue || !Kept.Empty();
    int32_t retry = 0;
    if (sending && Remote.RetryAhead(waits.Now, HostCache::UdpRetryAfter, retry))
        waits.DueBy(retry);
    if (Refused && sending)
        waits.DueBy(TickAfter(waits.Now, RefusedRetry));
}

int32_t UdpLink::ReadDatagram()
{
    QLN_ASSERT_HELD(Port.Lock());
    if (!Socket->ReadReported())
        return 0;
    // One datagram a step, read whole: the largest fits (64 KiB).
    static thread_local std::vector<uint8_t> buffer(Connection::ReceiveLimit);
    NetAddress sender;
    uint32_t count = Connection::ReceiveLimit;
    if (Socket->ReceiveNext(buffer.data(), &count, sender))
        return 0;
    // A datagram from outside the allow list is dropped whole, and counted.
    const std::string peer = sender.ToText();
    if (!Admits(sender, peer))
        return 1;
    if (Port.FromNetWaiting() + count > FromNetCap) {
        // Over the cap the datagram is dropped whole: it was read, so the socket does
        // not stay readable.
        Port.DatagramDropped();
        return 1;
    }
    Stats.BytesReceived += count;
    if (!LastSender || LastSender->Peer != peer)
        LastSender = MakeOrigin(Label(), peer, Id);
    Port.FromNet(buffer.data(), count, LastSender);
    return 1;
}
