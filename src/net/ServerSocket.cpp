#include "net/ServerSocket.h"

#include "net/ClientSocket.h"
#include "net/NetAddress.h"
#include "net/SocketEventHandler.h"

#include <cerrno>
#include <climits>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

// Ownership: the object owns the listening descriptor and closes it on
// destruction; each accepted connection belongs to the handler that receives it
// in OnAccept. Every call is made under the port manager's lock.

CServerSocket::CServerSocket(uint16_t port, const NetAddress& local)
{
    // SO_REUSEADDR lets a restarted console listen again while connections of the
    // previous run linger in TIME_WAIT; a second listener on the port is still refused.
    if (OpenBound(SOCK_STREAM, port, local, true))
        return;
    if (SetNonBlocking(true))
        return;
    // The largest backlog; the system cuts it down to its own limit.
    if (::listen(Handle.Get(), INT_MAX) != 0)
        Fail("listen");
}

CServerSocket::~CServerSocket()
{
    CSocket::Close();
}

int CServerSocket::Poll()
{
    if (ReadTest() != 1)
        return 0;
    CClientSocket* client = Accept();
    // Without a handler nobody could take the connection; drop it rather than
    // leak its descriptor.
    if (client && !Handler)
        delete client;
    return 1;
}

CClientSocket* CServerSocket::Accept()
{
    if (!Handle.Valid())
        return nullptr;
    NetAddress peer;
    socklen_t size = sizeof peer.Storage;
    SocketHandle accepted;
    do {
        accepted = ::accept4(Handle.Get(), reinterpret_cast<sockaddr*>(&peer.Storage), &size, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0) {
        ShortOfResources = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        Fail("accept");
        return nullptr;
    }
    ShortOfResources = false;
    peer.Length = size;
    // An IPv4 peer of the dual-stack listener is shown as the IPv4 address it is.
    auto client = std::make_unique<CClientSocket>(accepted, peer.Unmapped());
    CClientSocket* raw = client.get();
    if (Handler) {
        // From here on the handler owns the client, even if it throws.
        client.release();
        Notify([&](CSocketEventHandler& handler, void* userData) { handler.OnAccept(this, raw, userData); });
        return raw;
    }
    return client.release();
}
