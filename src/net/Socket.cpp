#include "net/Socket.h"

#include "net/SocketEventHandler.h"

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// The readiness tests answer what a zero-wait select on the one socket would:
// an error or a hang-up counts as readable (the read then tells which), an error
// as writable, and urgent data as the exceptional condition. poll is used rather
// than select because select cannot take a descriptor numbered 1024 or above.

CSocket::~CSocket()
{
    // The derived destructors close with their own Close first, so this only
    // catches a handle that a derived class left open.
    CSocket::Close();
}

void CSocket::Close()
{
    if (Handle == INVALID_SOCKET)
        return;
    // Both directions are shut first so the peer sees the end of the stream
    // even while another descriptor (none in the console) still refers to it.
    ::shutdown(Handle, SHUT_RDWR);
    LastResult = ::close(Handle);
    Handle = INVALID_SOCKET;
    if (Handler) {
        CSocketEventHandler* handler = Handler;
        void* userData = UserData;
        Guarded([&] { handler->OnClose(this, userData); });
    }
}

SocketHandle CSocket::Create(int type)
{
    if (Handle != INVALID_SOCKET)
        return Handle;
    // Close-on-exec so that no program the console starts inherits a link.
    Handle = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (Handle < 0) {
        Handle = INVALID_SOCKET;
        LastResult = -1;
    }
    return Handle;
}

void CSocket::Bind(uint16_t port)
{
    if (Handle == INVALID_SOCKET) {
        LastResult = -1;
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    LastResult = ::bind(Handle, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

void CSocket::SetNonBlocking(bool on)
{
    if (Handle == INVALID_SOCKET) {
        LastResult = -1;
        return;
    }
    int flag = on ? 1 : 0;
    LastResult = ::ioctl(Handle, FIONBIO, &flag);
}

int CSocket::Readiness(short events) const
{
    if (Handle == INVALID_SOCKET)
        return -1;
    pollfd entry{Handle, events, 0};
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

int CSocket::WriteTest() const
{
    int events = Readiness(POLLOUT);
    if (events < 0)
        return -1;
    return (events & (POLLOUT | POLLERR)) ? 1 : 0;
}

int CSocket::ExceptionTest() const
{
    int events = Readiness(POLLPRI);
    if (events < 0)
        return -1;
    return (events & POLLPRI) ? 1 : 0;
}
