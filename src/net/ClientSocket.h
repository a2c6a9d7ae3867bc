#pragma once
#include "net/Socket.h"

struct NetAddress;
struct sockaddr_in;

// A TCP stream socket that connects out, or stands for a connection a server
// socket accepted.
class CClientSocket : public CSocket {
public:
    enum : int32_t { Unconnected = 0, Connecting = 1, Connected = 2 };

    CClientSocket() = default;
    // Takes over an accepted handle (made non-blocking); the peer address is not kept.
    CClientSocket(SocketHandle accepted, const sockaddr_in* peer);
    ~CClientSocket() override;

    int Poll() override;
    void Close() override;

    // True when a connection attempt is under way; the outcome arrives through Poll.
    // The host text is looked up here and may wait for a name server; the links
    // connect to the address their host cache holds instead.
    bool Connect(const char* host, uint16_t port);
    bool Connect(const NetAddress& address);
    // True when every byte was handed to the system. `sent`, when given, receives how
    // many bytes the system took before a refusal (all of them on success).
    bool Send(const void* data, int32_t length, int32_t* sent = nullptr);
    // True when exactly `length` bytes were read.
    bool Receive(void* buffer, int32_t length);
    void SetNoDelay(bool on);

    int32_t GetState() const { return State; }
    bool GetClosedByPeer() const { return ClosedByPeer; }
    uint32_t GetAnnounced() const { return Announced; }

private:
    // Closes the previous connection and opens a fresh non-blocking handle.
    bool Reopen();
    bool ConnectOpen(const NetAddress& address);

    int32_t State = Unconnected;
    bool ClosedByPeer = false;
    uint32_t Announced = 0;
};
