#include "net/Socket.h"

#include "net/SocketEventHandler.h"

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
    LastResult = Handle.Reset();
    Notify([this](CSocketEventHandler& handler, void* userData) { handler.OnClose(this, userData); });
}

void CSocket::Fail(const char* call)
{
    LastResult = -1;
    LastErrno = errno;
    LastCall = call;
}

std::string CSocket::LastErrorText() const
{
    return LastCall ? std::string(LastCall) + ": " + LastErrorReason() : std::string();
}

std::string CSocket::LastErrorReason() const
{
    if (!LastCall)
        return std::string();
    // A host lookup has no errno of its own.
    return LastErrno != 0 ? std::strerror(LastErrno) : "Name does not resolve";
}

SocketHandle CSocket::Create(int type)
{
    if (Handle.Valid())
        return Handle.Get();
    // Close-on-exec so that no program the console starts inherits a link.
    Handle.Reset(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (!Handle.Valid()) {
        Handle.Release();
        Fail("socket");
    } else {
        ++Opening;
    }
    return Handle.Get();
}

void CSocket::Bind(uint16_t port)
{
    if (!Handle.Valid()) {
        LastResult = -1;
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    LastResult = ::bind(Handle.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (LastResult != 0)
        Fail("bind");
}

void CSocket::SetNonBlocking(bool on)
{
    if (!Handle.Valid()) {
        LastResult = -1;
        return;
    }
    int flag = on ? 1 : 0;
    LastResult = ::ioctl(Handle.Get(), FIONBIO, &flag);
    if (LastResult != 0)
        Fail("ioctl");
}

int CSocket::Readiness(short events) const
{
    if (!Handle.Valid())
        return -1;
    if (PumpDriven) {
        // What the pump's wait found; errors and hang-ups come whether asked or not,
        // as poll(2) reports them.
        const uint32_t wanted = static_cast<uint16_t>(events) | POLLERR | POLLHUP;
        return static_cast<int>(GivenEvents & wanted);
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

int CSocket::ReadTest() const
{
    int events = Readiness(POLLIN);
    if (events < 0)
        return -1;
    return (events & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}
