#pragma once
// Plain sockets on 127.0.0.1 for tests, each descriptor owned by a UniqueFd, and
// sending and receiving with deadlines. Nothing here blocks.
#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
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

inline uint16_t LocalPort(FdRef socket)
{
    sockaddr_in addr {};
    socklen_t len = sizeof addr;
    if (getsockname(socket.Fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

// A socket of `type` bound to `port` (0: a free one), or none when the port is
// taken. A TCP socket may take a port whose old connections linger; a UDP socket
// never shares its port, so that a test holding one keeps the console off it.
inline UniqueFd Bind(int type, uint16_t port = 0)
{
    UniqueFd fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
    const int one = 1;
    if (type == SOCK_STREAM)
        setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in addr = Loopback(port);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        fd.Reset();
    return fd;
}

// A listening TCP socket on `port` (0: a free one), or none.
inline UniqueFd Listen(uint16_t port = 0)
{
    UniqueFd fd = Bind(SOCK_STREAM, port);
    if (fd && listen(fd.Get(), 64) != 0)
        fd.Reset();
    return fd;
}

// A UDP socket whose receive buffer holds a whole test's datagrams even when the
// test reads them only after the console has sent them all: loopback drops what
// does not fit, and a busy machine may run the reader late.
inline UniqueFd BindUdp(uint16_t port = 0)
{
    UniqueFd fd = Bind(SOCK_DGRAM, port);
    int size = 8 << 20;
    if (fd && setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

// A port that was free a moment ago (bound and released).
inline uint16_t FreePort(int type = SOCK_STREAM)
{
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

// A TCP connection to `port`, or none when it is refused.
inline UniqueFd ConnectTo(uint16_t port)
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in addr = Loopback(port);
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
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
