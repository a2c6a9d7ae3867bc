#pragma once
#include "net/LinkKinds.h"
#include "net/Socket.h"

#include "net/NetAddress.h"

// A TCP stream socket that connects out, or stands for a connection a server
// socket accepted.
class CClientSocket : public CSocket {
public:
    CClientSocket() = default;
    // Takes over an accepted handle (made non-blocking) and keeps its peer's address.
    CClientSocket(SocketHandle accepted, const NetAddress& peer);
    ~CClientSocket() override;

    int Poll() override;
    void Close() override;

    // True when a connection attempt is under way; the outcome arrives through Poll.
    // The host text is looked up here and may wait for a name server (its first
    // address is used); the links connect to the address their host cache holds
    // instead.
    bool Connect(const char* host, uint16_t port);
    bool Connect(const NetAddress& address);
    // True when every byte was handed to the system. `sent`, when given, receives how
    // many bytes the system took before a refusal (all of them on success). A refusal
    // leaves the socket Connected only when the send would have blocked; a broken
    // connection (reset, broken pipe) is closed as Receive closes it.
    bool Send(const void* data, int32_t length, int32_t* sent = nullptr);
    // True when bytes were read: `length` of them, or fewer when the rest was not
    // there yet (`received` tells how many). What was announced before is then
    // settled, and the next Poll announces whatever is still waiting. False when
    // nothing could be read: it would block, or the connection ended (then closed).
    bool Receive(void* buffer, int32_t length, int32_t* received = nullptr);
    void SetNoDelay(bool on);
    // TCP keepalive: after `idle` seconds without traffic a probe every `interval`
    // seconds, and after `probes` unanswered ones the connection fails (its next
    // poll closes it), so a peer that vanished without a word is noticed.
    void SetKeepAlive(int idle = 60, int interval = 10, int probes = 3);
    // For a connection whose bytes are not wanted for now: finds, without reading, a
    // peer that reset the connection or closed it with nothing left unread, and
    // closes the socket (ClosedByPeer set). A peer that closed with bytes still
    // unread is only marked (PeerShutdown); its bytes wait for the next Poll.
    // 1 when the socket was closed.
    int PollHangUp();

    LinkState GetState() const { return State; }
    bool GetClosedByPeer() const { return ClosedByPeer; }
    uint32_t GetAnnounced() const { return Announced; }
    // The peer sent its last byte; what it sent may still be unread. Nothing more
    // can arrive, so there is no hang-up left to wait for.
    bool GetPeerShutdown() const { return PeerShutdown; }
    // The far end of an accepted connection; no address for an outgoing one.
    const NetAddress& GetPeer() const { return Peer; }

private:
    // Closes the previous connection and opens a fresh non-blocking handle of `family`.
    bool Reopen(int family);
    bool ConnectOpen(const NetAddress& address);
    // The peer closed or reset the connection: says which (GetLastFailure) and closes.
    void EndedByPeer();

    LinkState State = Unconnected;
    bool ClosedByPeer = false;
    uint32_t Announced = 0;
    bool PeerShutdown = false;
    NetAddress Peer;
};
