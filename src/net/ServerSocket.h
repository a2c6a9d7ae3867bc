#pragma once
#include "net/Socket.h"

class CClientSocket;

// A listening TCP socket. Construction leaves GetLastFailure empty when it listens.
class CServerSocket : public CSocket {
public:
    // Listens on `port` of `local`; without a local address (Length 0) on every
    // interface, for IPv4 and IPv6 peers alike.
    explicit CServerSocket(uint16_t port, const NetAddress& local = NetAddress());
    ~CServerSocket() override;

    // Accepts at most one waiting connection per call.
    int Poll() override;
    // The new connected client, handed to OnAccept when a handler is set; null on failure.
    // Ownership: the handler takes it in OnAccept; without a handler the caller owns it.
    CClientSocket* Accept();
    // The last accept failed for want of descriptors or memory (EMFILE, ENFILE,
    // ENOBUFS, ENOMEM): the connection still waits, so the listener stays readable
    // until something is freed. Every accept sets or clears it.
    bool OutOfDescriptors() const { return ShortOfResources; }

private:
    bool ShortOfResources = false;
};
