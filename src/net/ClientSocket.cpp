#include "net/ClientSocket.h"

#include "net/ResolveHost.h"
#include "net/SocketEventHandler.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

// Ownership: the object owns its descriptor and closes it in Close, in Connect
// (the previous connection's) and on destruction. Every call is made under the
// port manager's lock; the handler runs inside the call that found the event.

namespace {

// A receive that failed for a reason other than "nothing there yet" means the
// connection is gone (reset, timed out, ...); keeping it would leave the link
// Connected forever with bytes it can never read.
bool IsTransient(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// The same for a send; a send may also find the system short of buffers for a moment.
bool IsTransientSend(int error)
{
    return IsTransient(error) || error == ENOBUFS;
}

} // namespace

CClientSocket::CClientSocket(SocketHandle accepted, const NetAddress& peer) : Peer(peer)
{
    if (accepted == INVALID_SOCKET)
        return;
    Handle.Reset(accepted);
    ++Opening;
    State = LinkState::Connected;
    SetNonBlocking(true);
}

CClientSocket::~CClientSocket()
{
    // Our own Close, so OnClose sees the socket already Unconnected.
    CClientSocket::Close();
}

void CClientSocket::Close()
{
    if (Handle.Valid()) {
        State = LinkState::Unconnected;
        PeerShutdown = false;
    }
    CSocket::Close();
}

Failure CClientSocket::Reopen(int family)
{
    ClosedByPeer = false;
    Close();
    if (Create(SOCK_STREAM, family) == INVALID_SOCKET)
        return LastFailure;
    SetNonBlocking(true);
    return {};
}

Failure CClientSocket::Connect(const char* host, uint16_t port)
{
    std::vector<NetAddress> found = LookUpHost(host);
    if (Failure failed = Reopen(found.empty() ? AF_INET : found.front().Family()))
        return failed;
    if (found.empty()) {
        // The new handle stays open (and the socket Unconnected) until the next
        // Connect, Close or destruction.
        return Fail(Failure {0, "getaddrinfo", "Name does not resolve"});
    }
    found.front().SetPort(port);
    return ConnectOpen(found.front());
}

Failure CClientSocket::Connect(const NetAddress& address)
{
    if (Failure failed = Reopen(address.Family() == AF_INET6 ? AF_INET6 : AF_INET))
        return failed;
    return ConnectOpen(address);
}

Failure CClientSocket::ConnectOpen(const NetAddress& address)
{
    // EINPROGRESS is the normal answer of a non-blocking connect. An immediate
    // success is treated the same way: the next poll finds the socket writable
    // and reports the connection through OnConnect like any other.
    if (::connect(Handle.Get(), address.Get(), address.Length) == 0 || errno == EINPROGRESS) {
        State = LinkState::Connecting;
        return {};
    }
    return Fail("connect");
}

int CClientSocket::Poll()
{
    switch (State) {
    case LinkState::Connecting: {
        int events = Readiness(POLLOUT);
        if (events <= 0)
            return 0;
        // Linux reports a refused or failed connection as writable too; the
        // pending error (or POLLERR / POLLHUP) tells failure from success.
        bool failed = (events & (POLLERR | POLLHUP)) != 0;
        if (!failed && !(events & POLLOUT))
            return 0;
        bool success = false;
        int error = 0;
        if (!failed || (events & POLLERR)) {
            socklen_t size = sizeof error;
            if (::getsockopt(Handle.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
            success = !failed && error == 0;
        }
        // On failure the handle stays open until the next Connect, Close or
        // destruction.
        State = success ? LinkState::Connected : LinkState::Unconnected;
        if (!success) {
            errno = error != 0 ? error : ECONNREFUSED;
            Fail("connect");
        }
        Notify([&](CSocketEventHandler& handler, void* userData) { handler.OnConnect(this, success, userData); });
        return 1;
    }
    case LinkState::Connected:
    case LinkState::Unconnected:
        break;
    }
    return 0;
}

CClientSocket::SendOutcome CClientSocket::Send(const void* data, int32_t length)
{
    // Refused without a call: nothing is recorded, the socket's last failure stays.
    if (!Handle.Valid())
        return {0, Failure::OfCall("send", EBADF)};
    if (!data)
        return {0, Failure::OfCall("send", EFAULT)};
    if (State != LinkState::Connected)
        return {0, Failure::OfCall("send", ENOTCONN)};
    if (length <= 0)
        return {};

    const auto* bytes = static_cast<const unsigned char*>(data);
    int32_t taken = 0;
    while (taken < length) {
        // MSG_NOSIGNAL: a peer that vanished must not end the console with SIGPIPE.
        ssize_t result = ::send(Handle.Get(), bytes + taken, static_cast<size_t>(length - taken), MSG_NOSIGNAL);
        if (result > 0) {
            taken += static_cast<int32_t>(result);
            continue;
        }
        if (result < 0 && errno == EINTR)
            continue;
        // A refusal (the system's buffer is full) or a failure: no retry. The
        // caller learns from Sent which prefix the connection already holds.
        const bool broken = result == 0 || !IsTransientSend(errno);
        SendOutcome outcome {taken, Fail("send")};
        // Nothing sent, or a broken connection (reset, broken pipe): it can never
        // take the rest, and a poll need not notice it first.
        if (broken)
            Close();
        return outcome;
    }
    return {taken, {}};
}

size_t CClientSocket::Receive(void* buffer, size_t length)
{
    if (!Handle.Valid() || !buffer || State != LinkState::Connected || length == 0)
        return 0;

    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t got = 0;
    while (got < length) {
        const size_t asked = length - got;
        ssize_t result = ::recv(Handle.Get(), bytes + got, asked, 0);
        if (result > 0) {
            got += static_cast<size_t>(result);
            // A stream socket gives all it holds: a short read found it empty, and
            // asking again would only hear that it would block. What comes
            // meanwhile is reported by the next wait.
            if (static_cast<size_t>(result) < asked)
                break;
            continue;
        }
        if (result < 0 && errno == EINTR)
            continue;
        // Bytes already read are the caller's whatever follows them: the end of the
        // stream or a failure is met again by the next read.
        if (got > 0)
            break;
        if (result == 0 || !IsTransient(errno)) {
            // The peer closed (0) or the connection broke (reset, time-out):
            // nothing more will arrive on it.
            EndedByPeer(result == 0 ? Failure {} : Failure::OfCall("recv"));
            return 0;
        }
        // Nothing waiting yet: the socket stays open.
        Fail("recv");
        return 0;
    }
    return got;
}

int CClientSocket::PollHangUp()
{
    if (State != LinkState::Connected || PeerShutdown)
        return 0;
    int events = Readiness(POLLRDHUP);
    if (events <= 0)
        return 0;
    if (!(events & POLLERR)) {
        // A peek of one byte tells whether anything is left unread; it takes nothing.
        unsigned char probe;
        ssize_t waiting;
        do {
            waiting = ::recv(Handle.Get(), &probe, sizeof probe, MSG_PEEK | MSG_DONTWAIT);
        } while (waiting < 0 && errno == EINTR);
        if (waiting < 0 && IsTransient(errno))
            return 0;
        if (waiting > 0) {
            // The peer's last bytes are still in the system: keep them.
            PeerShutdown = true;
            return 0;
        }
    }
    // A reset or an error ends the connection whatever is left unread, as a read
    // would find. The pending error tells a reset (or a time-out) from an orderly
    // close, whose failure is none: not a would-block left over from an earlier call.
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(Handle.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = 0;
    EndedByPeer(error != 0 ? Failure::OfCall("recv", error) : Failure {});
    return 1;
}

void CClientSocket::EndedByPeer(Failure why)
{
    Fail(std::move(why));
    ClosedByPeer = true;
    Close();
}

Failure CClientSocket::SetNoDelay(bool on)
{
    if (!Handle.Valid())
        return Fail(Failure::OfCall("setsockopt", EBADF));
    // Linux wants the flag as an int; a one-byte option is refused with EINVAL.
    int flag = on ? 1 : 0;
    if (::setsockopt(Handle.Get(), IPPROTO_TCP, TCP_NODELAY, &flag, sizeof flag) != 0)
        return Fail("setsockopt");
    return {};
}

Failure CClientSocket::SetKeepAlive(int idle, int interval, int probes)
{
    if (!Handle.Valid())
        return Fail(Failure::OfCall("setsockopt", EBADF));
    const int on = 1;
    const int fd = Handle.Get();
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0
        || ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0
        || ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0
        || ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0)
        return Fail("setsockopt");
    return {};
}
