#include "net/DatagramSocket.h"

#include "net/ResolveHost.h"
#include "net/SocketEventHandler.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

// Ownership: the object owns its descriptor and closes it on destruction. Every
// call is made under the port manager's lock; the handler hears only of the close.

CDatagramSocket::CDatagramSocket(uint16_t localPort, const NetAddress& local)
{
    // No SO_REUSEADDR: a port that another link has bound must stay refused.
    if (OpenBound(SOCK_DGRAM, localPort, local, false))
        return;
    SetNonBlocking(true);
    SetBroadcast(false);
}

CDatagramSocket::~CDatagramSocket()
{
    CSocket::Close();
}

Failure CDatagramSocket::ReceiveNext(void* buffer, uint32_t* length, NetAddress& sender)
{
    if (!length)
        return Failure::OfCall("recvfrom", EFAULT);
    const uint32_t capacity = *length;
    for (int skipped = 0; skipped <= MaxEmptySkipped; ++skipped) {
        *length = capacity;
        if (Failure failed = ReceiveFrom(buffer, length, sender))
            return failed;
        // An empty datagram is read and dropped, and the socket stays open.
        if (*length > 0 || capacity == 0)
            return {};
    }
    // The rest waits for the next step.
    return Failure::OfCall("recvfrom", EAGAIN);
}

Failure CDatagramSocket::ReceiveFrom(void* buffer, uint32_t* length, char* address, uint16_t* port)
{
    NetAddress sender;
    Failure failed = ReceiveFrom(buffer, length, sender);
    if (!failed && address) {
        address[0] = '\0';
        if (sender.Family() == AF_INET)
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&sender.Storage)->sin_addr, address,
                        INET_ADDRSTRLEN);
    }
    if (!failed && port)
        *port = sender.Port();
    return failed;
}

Failure CDatagramSocket::ReceiveFrom(void* buffer, uint32_t* length, NetAddress& sender)
{
    sender = NetAddress();
    // Refused without a call: nothing is recorded, the socket's last failure stays.
    if (!Handle.Valid() || !buffer || !length) {
        if (length)
            *length = 0;
        return Failure::OfCall("recvfrom", Handle.Valid() ? EFAULT : EBADF);
    }
    uint32_t capacity = *length;
    *length = 0;
    if (capacity == 0)
        return {};
    socklen_t size = sizeof sender.Storage;
    ssize_t result;
    do {
        result = ::recvfrom(Handle.Get(), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender.Storage), &size);
    } while (result < 0 && errno == EINTR);
    sender.Length = result >= 0 ? size : 0;
    sender = sender.Unmapped();
    if (result < 0)
        return Fail("recvfrom");
    // An empty datagram (result 0) is a datagram like any other: it must not end the
    // socket, so it is answered as read with a length of 0.
    *length = static_cast<uint32_t>(result);
    return {};
}

Failure CDatagramSocket::SendTo(const void* data, int32_t length, const char* host, uint16_t port)
{
    if (!Handle.Valid())
        return Failure::OfCall("sendto", EBADF);
    if (!data || !host || !*host)
        return Failure::OfCall("sendto", EFAULT);
    std::vector<NetAddress> found = LookUpHost(host);
    if (found.empty())
        return Fail(Failure {0, "getaddrinfo", "Name does not resolve"});
    found.front().SetPort(port);
    return SendTo(data, length, found.front());
}

Failure CDatagramSocket::SendTo(const void* data, int32_t length, const NetAddress& destination)
{
    // Refused without a call: nothing is recorded, the socket's last failure stays.
    if (!Handle.Valid())
        return Failure::OfCall("sendto", EBADF);
    if (!data || destination.Length == 0)
        return Failure::OfCall("sendto", !data ? EFAULT : EDESTADDRREQ);
    const NetAddress to = Family == AF_INET6 ? destination.Mapped() : destination.Unmapped();
    if (to.Family() != Family)
        return Fail(Failure::OfCall("sendto", EAFNOSUPPORT));
    const auto* bytes = static_cast<const unsigned char*>(data);
    int32_t taken = 0;
    while (taken < length) {
        ssize_t result = ::sendto(Handle.Get(), bytes + taken, static_cast<size_t>(length - taken), MSG_NOSIGNAL,
                                  to.Get(), to.Length);
        if (result < 0 && errno == EINTR)
            continue;
        if (result == 0) {
            Close();
            return Failure::OfCall("sendto", EPIPE);
        }
        if (result < 0)
            return Fail("sendto");
        taken += static_cast<int32_t>(result);
    }
    return {};
}

Failure CDatagramSocket::SetBroadcast(bool on)
{
    if (!Handle.Valid())
        return Fail(Failure::OfCall("setsockopt", EBADF));
    int flag = on ? 1 : 0;
    if (::setsockopt(Handle.Get(), SOL_SOCKET, SO_BROADCAST, &flag, sizeof flag) != 0)
        return Fail("setsockopt");
    return {};
}
