#include "net/Socket.h"

#include "net/SocketEventHandler.h"
#include "platform/base/EventLog.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Ownership: the descriptor lives in Handle and is closed only through Close.

CSocket::~CSocket()
{
    // The derived destructors close with their own Close first, so this only
    // catches a handle that a derived class left open.
    CSocket::Close();
}

void CSocket::Close()
{
    if (!Handle.Valid())
        return;
    // Both directions are shut first so the peer sees the end of the stream
    // even while another descriptor (none in the console) still refers to it.
    ::shutdown(Handle.Get(), SHUT_RDWR);
    Registration.Forget();
    Handle.Reset();
    Notify([this](CSocketEventHandler& handler, void* userData) { handler.OnClose(this, userData); });
}

void CSocket::HandlerFailed(const char* what) noexcept
{
    // Nothing here may throw again: the failure is named by its call alone, and the
    // event log counts a line it has no memory for.
    LastFailure.Errno = 0;
    LastFailure.Call = "socket event handler";
    LastFailure.Words.clear();
    SayEvent(EventLevel::Error, "", what);
}

const Failure& CSocket::Fail(const char* call)
{
    return Fail(Failure::OfCall(call));
}

const Failure& CSocket::Fail(Failure failure)
{
    LastFailure = std::move(failure);
    return LastFailure;
}

SocketHandle CSocket::Create(int type, int family)
{
    if (Handle.Valid())
        return Handle.Get();
    // Close-on-exec so that no program the console starts inherits a link.
    Handle.Reset(::socket(family, type | SOCK_CLOEXEC, 0));
    if (!Handle.Valid()) {
        Handle.Release();
        Fail("socket");
    } else {
        ++Opening;
    }
    Family = family;
    return Handle.Get();
}

Failure CSocket::Bind(const NetAddress& local)
{
    if (!Handle.Valid())
        return Fail(Failure::OfCall("bind", EBADF));
    if (::bind(Handle.Get(), local.Get(), local.Length) != 0)
        return Fail("bind");
    return {};
}

Failure CSocket::OpenBound(int type, uint16_t port, const NetAddress& local, bool reuse)
{
    const bool everywhere = local.Length == 0 || local.IsAny6();
    for (int family : {everywhere ? AF_INET6 : local.Family(), AF_INET}) {
        if (Create(type, family) == INVALID_SOCKET) {
            // A system built without IPv6 listens on IPv4 alone.
            if (everywhere && family == AF_INET6 && LastFailure.Errno == EAFNOSUPPORT)
                continue;
            return LastFailure;
        }
        const int on = 1;
        const int off = 0;
        if (reuse)
            ::setsockopt(Handle.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        NetAddress address = local;
        if (everywhere) {
            // Both families on one socket, whatever the system's default for IPv6
            // sockets (net.ipv6.bindv6only) says.
            if (family == AF_INET6)
                ::setsockopt(Handle.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            address = NetAddress::Any(family);
        }
        address.SetPort(port);
        if (!Bind(address)) {
            // What the other family's attempt met is no failure of this socket.
            LastFailure = {};
            return {};
        }
        // IPv6 switched off on every interface: the IPv6 wildcard cannot be had.
        if (!everywhere || family != AF_INET6 || LastFailure.Errno != EADDRNOTAVAIL)
            return LastFailure;
        Handle.Reset();
    }
    return LastFailure;
}

Failure CSocket::SetNonBlocking(bool on)
{
    if (!Handle.Valid())
        return Fail(Failure::OfCall("ioctl", EBADF));
    int flag = on ? 1 : 0;
    if (::ioctl(Handle.Get(), FIONBIO, &flag) != 0)
        return Fail("ioctl");
    return {};
}

int CSocket::Readiness(short events) const
{
    if (!Handle.Valid())
        return -1;
    if (Given.Reported) {
        // What the pump's wait found; errors and hang-ups come whether asked or not,
        // as poll(2) reports them.
        const uint32_t wanted = static_cast<uint16_t>(events) | POLLERR | POLLHUP;
        return static_cast<int>(Given.Events & wanted);
    }
    pollfd entry{Handle.Get(), events, 0};
    int found;
    do {
        found = ::poll(&entry, 1, 0);
    } while (found < 0 && errno == EINTR);
    if (found < 0 || (entry.revents & POLLNVAL))
        return -1;
    return found == 0 ? 0 : entry.revents;
}

bool CSocket::ReadReported() const
{
    if (!Given.Reported)
        return true;
    return (Given.Events & (POLLIN | POLLHUP | POLLERR | POLLRDHUP)) != 0;
}

int CSocket::ReadTest() const
{
    int events = Readiness(POLLIN);
    if (events < 0)
        return -1;
    return (events & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}
