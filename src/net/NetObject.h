#pragma once
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include "net/ClientSocket.h"
#include "net/DatagramSocket.h"
#include "net/HostCache.h"
#include "net/LinkKinds.h"
#include "net/LinkProtocol.h"
#include "net/ServerSocket.h"

// A connection a TCP server link accepted, with how much of the port's current
// outbound chunk it has taken.
struct AcceptedClient {
    std::unique_ptr<CClientSocket> Socket;
    std::unique_ptr<LinkProtocol> Protocol; // a server link with line control
    std::string Peer; // "192.0.2.7:50312", for the window and the command line
    uint32_t Taken = 0;
    bool WaitsWritable = false; // its send of the chunk would have blocked in the last step
};

// Why a link last failed, and when: each reason given is stamped with the wall
// clock (milliseconds since 1970), so the same words twice are two failures at two
// times. Reads as the reason's text wherever a string is wanted.
class LinkFailure {
public:
    LinkFailure& operator=(std::string reason)
    {
        Reason = std::move(reason);
        At = std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
        return *this;
    }
    void clear()
    {
        Reason.clear();
        At = 0;
    }
    bool empty() const { return Reason.empty(); }
    const std::string& Text() const { return Reason; }
    operator const std::string&() const { return Reason; }
    // When the reason was given; 0 before any failure.
    int64_t Time() const { return At; }
    friend bool operator==(const LinkFailure& failure, std::string_view text) { return failure.Reason == text; }

private:
    std::string Reason;
    int64_t At = 0;
};

// What a link may have beyond its kind's ports and remote host; both are optional
// and stored only when set.
struct LinkOptions {
    // TcpServer, Udp: the numeric address to listen on; empty: every interface.
    std::string LocalAddr;
    // TcpClient, TcpServer: line control over Telnet (RFC 2217); off: raw bytes.
    bool Rfc2217 = false;
};

// One network link of a port. Owned by its CPortObject; owns the sockets of its kind.
// Every field is guarded by the manager lock.
class CNetObject {
public:
    explicit CNetObject(NetKind kind) : Type(kind) {}
    CNetObject(const CNetObject&) = delete;
    CNetObject& operator=(const CNetObject&) = delete;

    const NetKind Type;
    int32_t LocalPort = 0;       // TcpServer: listen port; Udp: bound local port
    std::string LocalAddr;       // TcpServer, Udp: numeric listen address; empty: all interfaces
    bool Rfc2217 = false;        // TcpClient, TcpServer: line control over Telnet
    // TcpClient with line control: the current connection's, or the last one's (what
    // its server reported stays readable until the next connection).
    std::unique_ptr<LinkProtocol> Protocol;
    std::string RemoteAddr;      // TcpClient, Udp: host exactly as supplied
    uint16_t RemotePort = 0;     // TcpClient, Udp
    std::unique_ptr<CClientSocket> ClientSocket;     // TcpClient only
    std::unique_ptr<CServerSocket> ServerSocket;     // TcpServer only
    std::unique_ptr<CDatagramSocket> DatagramSocket; // Udp only
    std::list<AcceptedClient> Clients;               // TcpServer only, in order of acceptance
    bool Changed = false;        // what the window shows of the link may have changed
    // Figures for the window and the command line: bytes sent to the link's peers
    // (to each client of a server link) and received from them, the wall-clock time
    // (milliseconds since 1970) of the last change of state, and why and when the
    // last attempt, bind or connection failed ("Connection refused"; empty before any
    // failure).
    uint64_t BytesSent = 0;
    uint64_t BytesReceived = 0;
    int64_t LastChange = 0;
    LinkFailure LastError;
    bool AutoReconnect = true;   // TcpClient
    int32_t ReconnectIntervalTime = DefaultReconnectInterval; // TcpClient, milliseconds
    // TcpClient: tick of the last failure or close by the peer. TcpServer, Udp: tick
    // of the last failed bind while the link is not listening.
    int32_t LastFailTime = 0;
    HostCache Remote;            // TcpClient, Udp: what is known of RemoteAddr
    // TcpClient: an attempt of the window's (the first one, or Reconnect) waits for
    // the lookup of RemoteAddr and starts when the answer comes.
    bool ConnectWhenResolved = false;
    // TcpClient: an attempt failed and the host has another address, which the pump
    // tries right after the poll that found the failure.
    bool NextAddressDue = false;

    // How much of the port's current outbound chunk this link has taken
    // (TcpClient, Udp); a server link keeps it per accepted client.
    uint32_t Taken = 0;
    // TcpClient, Udp: its send of the chunk would have blocked in the last step, so
    // the pump waits for the socket to become writable.
    bool WaitsWritable = false;
    // TcpClient: tick at which the pump last started a connection attempt.
    int32_t LastAttemptTime = 0;
    // TcpServer: while descriptors run out, accepting pauses for AcceptBackoff
    // milliseconds (0: accepting normally) from the tick AcceptPausedAt.
    int32_t AcceptBackoff = 0;
    int32_t AcceptPausedAt = 0;

    // False only for a TCP server or UDP link that has no bound socket on its local
    // port yet: the configuration load keeps such a link when the port is taken, and
    // the pump binds it once the port is free.
    bool IsListening() const
    {
        return (Type != TcpServer || ServerSocket) && (Type != Udp || DatagramSocket);
    }

    // Something the window shows changed: the next refresh redraws the link.
    void MarkChanged()
    {
        Changed = true;
        LastChange = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    }

    // The link's client socket state, or Unconnected for other kinds.
    LinkState GetLinkState() const { return ClientSocket ? ClientSocket->GetState() : Unconnected; }
};
