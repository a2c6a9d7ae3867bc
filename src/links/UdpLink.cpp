// Implements UdpLink: datagrams to one destination, from anyone.
#include "links/UdpLink.h"

#include <cerrno>
#include <sys/epoll.h>

#include "links/LinkWaits.h"
#include "links/PortSide.h"
#include "platform/base/CriticalSection.h"

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

void UdpLink::ChunkDone()
{
    Taken = 0;
    Refused = false;
}

bool UdpLink::Destination(NetAddress& to)
{
    if (Remote.Get(Port.Resolver(), RemoteAddr, true, HostCache::UdpRetryAfter, to) != HostCache::Ready)
        return false;
    to.SetPort(RemotePort);
    return true;
}

int32_t UdpLink::ServeListening(const uint8_t* chunk, uint32_t length, bool& allTaken)
{
    int32_t work = 0;
    WaitsWritable = false;
    if (chunk && Taken < length) {
        NetAddress to;
        errno = 0;
        if (!Destination(to)) {
            // Held until the host's address is known: the resolver's answer, or the
            // time for the next lookup, wakes the pump.
            allTaken = false;
        } else if (Socket->SendTo(chunk, static_cast<int32_t>(length), to)) {
            Taken = length;
            BytesSent += length;
            work += 1;
        } else {
            allTaken = false;
            // A full send buffer reports its end as writability; a host that does not
            // resolve, a refused destination or a system short of buffers does not.
            // Retrying either is no work.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                WaitsWritable = true;
            } else {
                Refused = true;
                LastError = Socket->LastErrorReason();
            }
        }
    }
    work += Socket->Poll();
    return work;
}

void UdpLink::ArmListening(LinkWaits& waits)
{
    waits.Watch(*Socket, WaitsWritable ? EPOLLIN | EPOLLOUT : EPOLLIN);
    int32_t retry = 0;
    if (waits.ChunkDue && Remote.RetryAhead(waits.Now, HostCache::UdpRetryAfter, retry))
        waits.DueBy(retry);
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
