#pragma once
// Plain sockets on 127.0.0.1 for tests, each descriptor owned by a UniqueFd, and
// sending and receiving with deadlines. Nothing here blocks.
#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <vector>

#include "platform/base/UniqueFd.h"
#include "WaitUntil.h"

namespace qlntest {

// A descriptor the helpers below work on: a plain one, or one a UniqueFd owns (and
// goes on owning).
struct FdRef {
    FdRef(int fd) : Fd(fd) {}
    FdRef(const UniqueFd& fd) : Fd(fd.Get()) {}
    int Fd;
};

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// The loopback address of a family (127.0.0.1 or ::1) with a port.
struct SocketAddress {
    sockaddr_storage Storage {};
    socklen_t Length = 0;
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
};

inline SocketAddress LoopbackOf(int family, uint16_t port)
{
    SocketAddress out;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&out.Storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = in6addr_loopback;
        out.Length = sizeof *in6;
    } else {
        *reinterpret_cast<sockaddr_in*>(&out.Storage) = Loopback(port);
        out.Length = sizeof(sockaddr_in);
    }
    return out;
}

// The address a socket is bound to.
inline SocketAddress BoundAddress(FdRef socket)
{
    SocketAddress out;
    out.Length = sizeof out.Storage;
    if (getsockname(socket.Fd, reinterpret_cast<sockaddr*>(&out.Storage), &out.Length) != 0)
        out.Length = 0;
    return out;
}

inline uint16_t LocalPort(FdRef socket)
{
    const SocketAddress bound = BoundAddress(socket);
    if (bound.Length == 0)
        return 0;
    // The port sits at the same place in both families' addresses.
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound.Storage)->sin_port);
}

// A socket of `type` bound to `port` (0: a free one) on the loopback address of
// `family`, or none when the port is taken. A TCP socket may take a port whose old
// connections linger; a UDP socket never shares its port, so that a test holding
// one keeps the console off it.
inline UniqueFd Bind(int type, uint16_t port = 0, int family = AF_INET)
{
    UniqueFd fd(socket(family, type | SOCK_CLOEXEC, 0));
    const int one = 1;
    if (type == SOCK_STREAM)
        setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const SocketAddress addr = LoopbackOf(family, port);
    if (bind(fd.Get(), addr.Get(), addr.Length) != 0)
        fd.Reset();
    return fd;
}

// A listening TCP socket on `port` (0: a free one), or none.
inline UniqueFd Listen(uint16_t port = 0, int family = AF_INET)
{
    UniqueFd fd = Bind(SOCK_STREAM, port, family);
    if (fd && listen(fd.Get(), 64) != 0)
        fd.Reset();
    return fd;
}

// A UDP socket whose receive buffer holds a whole test's datagrams even when the
// test reads them only after the console has sent them all: loopback drops what
// does not fit, and a busy machine may run the reader late.
inline UniqueFd BindUdp(uint16_t port = 0, int family = AF_INET)
{
    UniqueFd fd = Bind(SOCK_DGRAM, port, family);
    int size = 8 << 20;
    if (fd && setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

// Whether this machine has the IPv6 loopback address; tests of IPv6 skip without it.
inline bool HasIpv6Loopback()
{
    return Bind(SOCK_DGRAM, 0, AF_INET6).Valid();
}

// Whether nothing on this machine holds `port` of `type`, in either family: the
// console's listeners take both.
inline bool PortIsFree(int type, uint16_t port)
{
    for (int family : {AF_INET6, AF_INET}) {
        UniqueFd fd(socket(family, type | SOCK_CLOEXEC, 0));
        if (!fd)
            continue; // no IPv6 here: the IPv4 wildcard decides
        const int off = 0;
        setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_storage any {};
        any.ss_family = static_cast<sa_family_t>(family);
        reinterpret_cast<sockaddr_in*>(&any)->sin_port = htons(port); // same place in both
        const socklen_t length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        return bind(fd.Get(), reinterpret_cast<const sockaddr*>(&any), length) == 0;
    }
    return false;
}

// A port that was free a moment ago, never handed out twice by this process, and
// below the range the system takes ports for outgoing connections from: a port the
// system picked would soon be some connection's own, refusing the link meant for it.
inline uint16_t FreePort(int type = SOCK_STREAM)
{
    static std::mt19937 pick {std::random_device {}()};
    static std::set<uint16_t> given;
    std::uniform_int_distribution<int> range(20000, 32000);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = static_cast<uint16_t>(range(pick));
        if (!given.count(port) && PortIsFree(type, port)) {
            given.insert(port);
            return port;
        }
    }
    return LocalPort(Bind(type));
}

inline UniqueFd AcceptWithin(FdRef listener, double seconds = 10.0)
{
    UniqueFd fd;
    WaitUntil([&] {
        pollfd p {listener.Fd, POLLIN, 0};
        if (poll(&p, 1, 5) > 0)
            fd.Reset(accept4(listener.Fd, nullptr, nullptr, SOCK_CLOEXEC));
        return fd.Valid();
    }, seconds);
    return fd;
}

// A TCP connection to `port` on the loopback address of `family`, or none when it is
// refused.
inline UniqueFd ConnectTo(uint16_t port, int family = AF_INET)
{
    UniqueFd fd(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const SocketAddress addr = LoopbackOf(family, port);
    if (connect(fd.Get(), addr.Get(), addr.Length) != 0)
        fd.Reset();
    return fd;
}

inline bool SendAll(FdRef socket, const std::vector<uint8_t>& data, double seconds = 10.0)
{
    size_t done = 0;
    return WaitUntil([&] {
        const ssize_t n = send(socket.Fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            done += static_cast<size_t>(n);
        return done == data.size();
    }, seconds);
}

// Receives until `count` bytes came or `seconds` passed; returns what came.
inline std::vector<uint8_t> RecvExactly(FdRef socket, size_t count, double seconds = 10.0)
{
    return ReadUpTo(socket.Fd, count, seconds, true);
}

// Bytes that arrive within `seconds` (for "nothing more comes" checks).
inline std::vector<uint8_t> RecvFor(FdRef socket, double seconds)
{
    std::vector<uint8_t> out;
    uint8_t buf[65536];
    WaitUntil([&] {
        const ssize_t n = recv(socket.Fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        return false;
    }, seconds);
    return out;
}

} // namespace qlntest
