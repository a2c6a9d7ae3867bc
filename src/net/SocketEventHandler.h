#pragma once
#include <cstdint>

class CSocket;
class CClientSocket;
class CServerSocket;

// Receives the events of the sockets it is set on. Every call is synchronous,
// inside the socket operation that found the event, on the thread that called it.
// Data is no event: whoever serves a socket reads it (CClientSocket::Receive,
// CDatagramSocket::ReceiveNext) when the wait reported it readable.
class CSocketEventHandler {
public:
    // A listening socket accepted a connection; the handler owns `client` from now on.
    virtual void OnAccept(CServerSocket* server, CClientSocket* client, void* userData) = 0;
    // The socket has just been closed: its handle is already invalid, and a client
    // socket is already Unconnected.
    virtual void OnClose(CSocket* socket, void* userData) = 0;
    // A non-blocking connect of `socket` finished, well or not.
    virtual void OnConnect(CClientSocket* socket, bool success, void* userData) = 0;

protected:
    ~CSocketEventHandler() = default;
};
