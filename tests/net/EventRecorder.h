#pragma once
// What the socket tests record of a socket's events, and descriptor flags to check.
#include "net/ClientSocket.h"
#include "net/DatagramSocket.h"
#include "net/ServerSocket.h"
#include "net/SocketEventHandler.h"

#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace nettest {

inline bool IsCloseOnExec(SocketHandle handle)
{
    int flags = ::fcntl(handle, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC);
}

inline bool IsNonBlocking(SocketHandle handle)
{
    int flags = ::fcntl(handle, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

// Counts every event and keeps their order. Accepted clients are kept (owned)
// and get no handler of their own unless `adoptClients` is set.
class Recorder : public CSocketEventHandler {
public:
    ~Recorder()
    {
        for (auto& client : Clients)
            client->SetHandler(nullptr);
    }

    void OnAccept(CServerSocket*, CClientSocket* client, void* userData) override
    {
        Log.push_back("accept");
        LastUserData = userData;
        Clients.emplace_back(client);
        if (AdoptClients)
            client->SetHandler(this);
        if (Throw)
            throw std::runtime_error("handler fault");
    }
    void OnClose(CSocket* socket, void* userData) override
    {
        Log.push_back("close");
        LastUserData = userData;
        HandleAtClose = socket->GetHandle();
        if (auto* client = dynamic_cast<CClientSocket*>(socket)) {
            StateAtClose = client->GetState();
            ClosedByPeerAtClose = client->GetClosedByPeer();
        }
        if (Throw)
            throw std::runtime_error("handler fault");
    }
    void OnConnect(CClientSocket*, bool success, void* userData) override
    {
        Log.push_back(success ? "connect" : "connect-failed");
        LastUserData = userData;
        if (Throw)
            throw std::runtime_error("handler fault");
    }
    int Count(const std::string& event) const
    {
        int n = 0;
        for (const auto& entry : Log)
            n += entry == event;
        return n;
    }

    bool AdoptClients = false;
    bool Throw = false;

    std::vector<std::string> Log;
    void* LastUserData = nullptr;
    SocketHandle HandleAtClose = 0;
    std::optional<LinkState> StateAtClose; // none before a close
    bool ClosedByPeerAtClose = false;
    std::vector<std::unique_ptr<CClientSocket>> Clients;
};

} // namespace nettest
