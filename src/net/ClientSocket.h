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

    // Finishes a connection attempt (Connecting) from the readiness the wait reported:
    // OnConnect tells how it went; 1 then. A connected socket's bytes are read with
    // Receive, by whoever reads it: Poll reports nothing of them.
    int Poll() override;
    void Close() override;

    // Empty when a connection attempt is under way; the outcome arrives through Poll.
    // The host text is looked up here and may wait for a name server (its first
    // address is used); the links connect to the address their host cache holds
    // instead.
    Failure Connect(const char* host, uint16_t port);
    Failure Connect(const NetAddress& address);
    // What one send did: how many bytes the system took, and why it took no more
    // (empty when it took every byte). The Failure is made only on a refusal, so a
    // send that goes costs no allocation.
    struct SendOutcome {
        int32_t Sent = 0;
        Failure Why;
        bool Whole() const { return !Why; }
    };
    // Hands `data` to the system. A refusal leaves the socket Connected only when the
    // send would have blocked (Why.Errno EAGAIN); a broken connection (reset, broken
    // pipe) is closed as Receive closes it.
    SendOutcome Send(const void* data, int32_t length);
    // Reads into `buffer` until it holds `length` bytes or the socket has no more (a
    // short read says so: no second call to hear it would block), and answers how
    // many it read. 0 when nothing was there yet (still Connected), or when
    // the connection ended: the peer closed or reset it, or it broke. Then the socket is
    // closed (ClosedByPeer set, GetLastFailure says why; none for an orderly close).
    // Bytes read before an end are the caller's; the end is met by the next read.
    size_t Receive(void* buffer, size_t length);

    Failure SetNoDelay(bool on);
    // TCP keepalive: after `idle` seconds without traffic a probe every `interval`
    // seconds, and after `probes` unanswered ones the connection fails (its next
    // poll closes it), so a peer that vanished without a word is noticed.
    Failure SetKeepAlive(int idle = 60, int interval = 10, int probes = 3);
    // For a connection whose bytes are not wanted for now: finds, from what the wait
    // reported and without taking a byte, a peer that reset the connection or closed
    // it with nothing left unread, and closes the socket (ClosedByPeer set). A peer
    // that closed with bytes still unread is only marked (PeerShutdown); its bytes
    // wait for the next read. 1 when the socket was closed.
    int PollHangUp();

    LinkState GetState() const { return State; }
    bool GetClosedByPeer() const { return ClosedByPeer; }
    // The peer sent its last byte; what it sent may still be unread. Nothing more
    // can arrive, so there is no hang-up left to wait for.
    bool GetPeerShutdown() const { return PeerShutdown; }
    // The far end of an accepted connection; no address for an outgoing one.
    const NetAddress& GetPeer() const { return Peer; }

private:
    // Closes the previous connection and opens a fresh non-blocking handle of `family`.
    Failure Reopen(int family);
    Failure ConnectOpen(const NetAddress& address);
    // The peer closed or reset the connection: says which (`why`; none for an orderly
    // close) and closes.
    void EndedByPeer(Failure why);

    LinkState State = LinkState::Unconnected;
    bool ClosedByPeer = false;
    bool PeerShutdown = false;
    NetAddress Peer;
};
