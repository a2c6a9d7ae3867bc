#include "net/DatagramSocket.h"

#include "net/ResolveHost.h"
#include "net/SocketEventHandler.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <vector>

// Ownership: the object owns its descriptor and closes it on destruction. Every
// call is made under the port manager's lock; the handler runs inside Poll.

namespace {

// How many empty datagrams one poll reads away at most, so a flood of them
// cannot hold the pump thread; the rest go on the next poll.
constexpr int MaxEmptySkipped = 64;

} // namespace

CDatagramSocket::CDatagramSocket(uint16_t localPort, const NetAddress& local)
{
    // No SO_REUSEADDR: a port that another link has bound must stay refused.
    if (!OpenBound(SOCK_DGRAM, localPort, local, false))
        return;
    SetNonBlocking(true);
    SetBroadcast(false);
}

CDatagramSocket::~CDatagramSocket()
{
    CSocket::Close();
}

int CDatagramSocket::Poll()
{
    if (ReadTest() != 1)
        return 0;

    // FIONREAD gives the size of the next datagram, 0 for an empty one. An empty
    // datagram at the head would hide every datagram behind it, so it is read
    // and dropped; the socket stays open.
    int skipped = 0;
    int waiting = 0;
    for (;;) {
        if (::ioctl(Handle.Get(), FIONREAD, &waiting) != 0 || waiting < 0)
            return skipped > 0 ? 1 : 0;
        if (waiting > 0 || skipped >= MaxEmptySkipped)
            break;
        // The peek (with MSG_TRUNC, which answers the datagram's real size)
        // makes sure only an empty datagram is taken away; it also fails when
        // the queue is empty or just clears a pending error.
        unsigned char probe;
        ssize_t size = ::recv(Handle.Get(), &probe, sizeof probe, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (size != 0)
            break;
        ::recv(Handle.Get(), &probe, sizeof probe, MSG_DONTWAIT);
        ++skipped;
        if (Readiness(POLLIN) <= 0)
            break;
    }

    uint32_t count = static_cast<uint32_t>(waiting);
    if (count == 0 || count <= Announced)
        return skipped > 0 ? 1 : 0;
    Announced = count;
    Notify([&](CSocketEventHandler& handler, void* userData) { handler.OnReceive(this, count, userData); });
    return 1;
}

bool CDatagramSocket::ReceiveFrom(void* buffer, uint32_t* length, char* address, uint16_t* port)
{
    NetAddress sender;
    const bool received = ReceiveFrom(buffer, length, sender);
    if (received && address) {
        address[0] = '\0';
        if (sender.Family() == AF_INET)
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&sender.Storage)->sin_addr, address,
                        INET_ADDRSTRLEN);
    }
    if (received && port)
        *port = sender.Port();
    return received;
}

bool CDatagramSocket::ReceiveFrom(void* buffer, uint32_t* length, NetAddress& sender)
{
    sender = NetAddress {};
    if (!Handle.Valid() || !buffer || !length) {
        if (length)
            *length = 0;
        return false;
    }
    uint32_t capacity = *length;
    *length = 0;
    if (capacity == 0)
        return true;
    socklen_t size = sizeof sender.Storage;
    ssize_t result;
    do {
        result = ::recvfrom(Handle.Get(), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender.Storage), &size);
    } while (result < 0 && errno == EINTR);
    sender.Length = result >= 0 ? size : 0;
    sender = sender.Unmapped();
    // Whatever came of it, the next poll reports what is still waiting.
    Announced = 0;
    if (result < 0) {
        Fail("recvfrom");
        return false;
    }
    // An empty datagram (result 0) is a datagram like any other: it must
    // not end the socket, so it is answered as true with a length of 0.
    *length = static_cast<uint32_t>(result);
    return true;
}

bool CDatagramSocket::SendTo(const void* data, int32_t length, const char* host, uint16_t port)
{
    if (!Handle.Valid() || !data || !host || !*host)
        return false;
    std::vector<NetAddress> found = LookUpHost(host);
    if (found.empty()) {
        Fail(Failure {0, "getaddrinfo", "Name does not resolve"});
        return false;
    }
    found.front().SetPort(port);
    return SendTo(data, length, found.front());
}

bool CDatagramSocket::SendTo(const void* data, int32_t length, const NetAddress& destination)
{
    if (!Handle.Valid() || !data || destination.Length == 0)
        return false;
    const NetAddress to = Family == AF_INET6 ? destination.Mapped() : destination.Unmapped();
    if (to.Family() != Family) {
        errno = EAFNOSUPPORT;
        Fail("sendto");
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    int32_t taken = 0;
    while (taken < length) {
        ssize_t result = ::sendto(Handle.Get(), bytes + taken, static_cast<size_t>(length - taken), MSG_NOSIGNAL,
                                  to.Get(), to.Length);
        if (result < 0 && errno == EINTR)
            continue;
        if (result == 0) {
            Close();
            LastResult = -1;
            return false;
        }
        if (result < 0) {
            Fail("sendto");
            return false;
        }
        taken += static_cast<int32_t>(result);
    }
    return true;
}

void CDatagramSocket::SetBroadcast(bool on)
{
    if (!Handle.Valid())
        return;
    int flag = on ? 1 : 0;
    LastResult = ::setsockopt(Handle.Get(), SOL_SOCKET, SO_BROADCAST, &flag, sizeof flag);
    if (LastResult != 0)
        Fail("setsockopt");
}
