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
    : ListeningLink(Udp, port, localPort, options)
{
    RemoteAddr = host;
    RemotePort = remotePort;
}

UdpLink::~UdpLink()
{
    Close();
}

Failure UdpLink::Bind(const NetAddress& local)
{
    auto socket = std::make_unique<CDatagramSocket>(static_cast<uint16_t>(LocalPort), local);
    // A socket that failed goes before it has a handler: its close reports nothing.
    if (socket->GetLastResult() != 0)
        return socket->GetLastFailure();
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
    return "udp " + (LocalAddr.empty() ? std::to_string(LocalPort) : HostPortText(LocalAddr, static_cast<uint16_t>(LocalPort)));
}

void UdpLink::ChunkDone(const uint8_t* chunk, uint32_t length)
{
    // A chunk that could not go waits, whole, for the destination to be reachable.
    if (chunk && Taken < length && !RemoteAddr.empty() && HasListener())
        KeepForLater(chunk, length);
    Taken = 0;
}

bool UdpLink::Destination(NetAddress& to)
{
    if (Remote.Get(Port.Resolver(), RemoteAddr, true, HostCache::UdpRetryAfter, to) != HostCache::Ready)
        return false;
    to.SetPort(RemotePort);
    return true;
}

bool UdpLink::SendDatagram(const uint8_t* data, uint32_t length, const NetAddress& to)
{
    errno = 0;
    if (Socket->SendTo(data, static_cast<int32_t>(length), to)) {
        BytesSent += length;
        return true;
    }
    // A full send buffer reports its end as writability; a refused destination or a
    // system short of buffers does not, and is tried again a little later.
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitsWritable = true;
    } else {
        Refused = true;
        LastError = Socket->LastErrorReason();
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
    if (RemoteAddr.empty()) {
        if (chunk && Taken < length)
            Taken = length;
        work += Socket->Poll();
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
    work += Socket->Poll();
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

void UdpLink::OnReceive(CSocket*, uint32_t count, void*)
{
    QLN_ASSERT_HELD(Port.Lock());
    if (count == 0)
        return;
    NetAddress sender;
    if (Port.FromNetWaiting() + count > FromNetCap) {
        // Read, so the socket does not stay readable, and drop the datagram whole: a
        // one-byte read takes all of it and keeps one byte.
        uint8_t discard;
        uint32_t length = sizeof discard;
        if (Socket->ReceiveFrom(&discard, &length, sender) && Admits(sender, sender.ToText()))
            Port.DatagramDropped();
        return;
    }
    static thread_local std::vector<uint8_t> buffer(Connection::ReceiveLimit);
    count = std::min(count, Connection::ReceiveLimit);
    if (!Socket->ReceiveFrom(buffer.data(), &count, sender) || count == 0)
        return;
    // A datagram from outside the allow list is dropped whole, and counted.
    const std::string peer = sender.ToText();
    if (!Admits(sender, peer))
        return;
    BytesReceived += count;
    if (!LastSender || LastSender->Peer != peer)
        LastSender = MakeOrigin(Label(), peer, Id);
    Port.FromNet(buffer.data(), count, LastSender);
}
