#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "links/Backlog.h"
#include "links/LinkFailure.h"
#include "links/Stage.h"
#include "links/TlsSettings.h"
#include "net/ClientSocket.h"
#include "net/LinkKinds.h"
#include "net/ReportedLine.h"
#include "net/SocketEventHandler.h"
#include "platform/base/EventLog.h"
#include "platform/base/Failure.h"
#include "platform/base/TickCount.h"

class LinkWaits;
class PortSide;
class TlsContext;

// How long a link lets a connection keep the others waiting, in milliseconds, and
// how many TLS handshakes a server link runs at once. Fixed for the console; never
// stored (tests shorten them).
struct LinkLimits {
    int32_t Handshake = 10000; // a TLS handshake
    int32_t Stalled = 30000;   // a connection that takes nothing while data waits for it
    // TcpServer: handshakes under way at once; further clients wait in the system's
    // queue until one ends, so a flood of handshakes costs bounded memory.
    int32_t Handshakes = 64;
};

// What a link may have beyond its kind's ports and remote host; each is optional
// and stored only when set.
struct LinkOptions {
    // TcpServer, Udp: the numeric address to listen on; empty: every interface.
    std::string LocalAddr;
    // TcpClient, TcpServer: line control over Telnet (RFC 2217); off: raw bytes.
    bool Rfc2217 = false;
    // TcpServer, Udp: the peers taken (AllowList's text); empty: everyone.
    std::string Allow {};
    // TcpServer: at most this many clients at once; 0: no limit.
    int32_t MaxClients = 0;
    // TcpClient, TcpServer: TLS, beneath Telnet when both are on.
    TlsSettings Tls {};
    LinkLimits Limits {};
};

// What the links answered for the port's current chunk in one step. The port lets the
// chunk go once no link holds it and a live peer has it (or nobody could take it at
// all); a link that is waiting for its peer then keeps it in its backlog.
struct ChunkAnswer {
    bool Held = false;      // a peer that is up holds part of it back: flow control
    bool Delivered = false; // a live peer has all of it (or it waits behind a backlog
                            // that a live peer is being sent)
    bool Waiting = false;   // a link that will try again has no peer for it now
};

// What the configuration and the add dialog hold of a link, one struct for every
// kind: each field says which kinds have it, and the others leave it at its default
// (the INI, the status and the dialog read the fields of the link's kind, as
// LinkOptions does). Set when the link is made; of them only the two reconnect
// settings change after that (the window's controls, a reload).
struct LinkSettings {
    int32_t LocalPort = 0;   // TcpServer: listen port; Udp: bound local port
    std::string LocalAddr;   // TcpServer, Udp: numeric listen address; empty: all interfaces
    bool Rfc2217 = false;    // TcpClient, TcpServer: line control over Telnet
    std::string RemoteAddr;  // TcpClient, Udp: host exactly as supplied
    uint16_t RemotePort = 0; // TcpClient, Udp
    bool AutoReconnect = true; // TcpClient
    int32_t ReconnectIntervalTime = DefaultReconnectInterval; // TcpClient, milliseconds
    std::string Allow;       // TcpServer, Udp: the peers taken, as stored; empty: everyone
    int32_t MaxClients = 0;  // TcpServer: 0: no limit
    TlsSettings Tls;         // TcpClient, TcpServer
};

// What the window, the status and quillonctl show of a link's life; written only by
// the link itself.
struct LinkStats {
    // Bytes sent to the link's peers (to each client of a server link) and received
    // from them.
    uint64_t BytesSent = 0;
    uint64_t BytesReceived = 0;
    // The wall-clock time (milliseconds since 1970) of the last change of state.
    int64_t LastChange = 0;
    // Why and when the last attempt, bind or connection failed, with its errno when a
    // system call said so ("Connection refused"; empty before any failure).
    LinkFailure LastError;
    // Peers turned away (outside the allow list, over the client limit, a failed or
    // stalled TLS handshake; a datagram each for UDP), and the last one.
    uint64_t Refused = 0;
    std::string LastRefusedPeer; // "192.0.2.7:50312"
    std::string LastRefusedWhy;  // "not in the allow list"
};

// One network link of a port. Owned by its CPortObject; each kind (TcpClientLink,
// TcpServerLink, UdpLink) is a class of its own that owns its sockets, is the handler
// of their events, and answers the port's few questions below. The port never asks
// what kind a link is; the kind is chosen once, when the link is made.
//
// Its face: Settings() (what the configuration stores and the dialog edits), Figures()
// (what the window and the status show), the state the window reads and clears in
// Changed. All of it is guarded by the manager lock.
class CNetObject : public CSocketEventHandler {
public:
    CNetObject(NetKind kind, PortSide& port) : Type(kind), Id(NextId()), Port(port) {}
    CNetObject(const CNetObject&) = delete;
    CNetObject& operator=(const CNetObject&) = delete;
    // Closes the link's sockets (with their OnClose) if Close has not.
    virtual ~CNetObject() = default;

    const NetKind Type;
    const uint64_t Id;           // never reused in the process: names the link in its origins
    bool Changed = false;        // what the window shows of the link may have changed
    // TcpClient: tick of the last failure or close by the peer. TcpServer, Udp: tick
    // of the last failed bind while the link is not listening.
    int32_t LastFailTime = 0;
    LinkLimits Limits;           // never stored
    // Made from the Tls setting when the link is made (its files read then, never per
    // connection); null without TLS, or when a file could not be had.
    std::shared_ptr<const TlsContext> TlsSetup;

    const LinkSettings& Settings() const { return Config; }
    const LinkStats& Figures() const { return Stats; }
    // The two settings the window and a reload change on a live link; the pump uses
    // them from its next step on.
    void SetAutoReconnect(bool on) { Config.AutoReconnect = on; }
    void SetReconnectInterval(int32_t milliseconds) { Config.ReconnectIntervalTime = milliseconds; }

    // Something the window shows changed: the next refresh redraws the link.
    void MarkChanged()
    {
        Changed = true;
        Stats.LastChange = WallClockNow();
    }

    // ---- what the port asks; lock held

    // Sets the link going once it is made: a TCP client's first connection attempt,
    // a listening link's bind. A failure here leaves a listening link not listening
    // (the port refuses it or keeps it to retry); a client that cannot start its
    // attempt yet tries again later and reports nothing here.
    virtual Failure Start() = 0;
    // One pump step: sends what the backlog holds, offers what each peer still lacks
    // of `chunk` (null: no chunk is due), says in `answer` what became of the chunk,
    // and serves the link's sockets. Returns the work count.
    virtual int32_t Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) = 0;
    // The chunk leaves the port: a link that is waiting for its peer keeps what it did
    // not give of it in its backlog; the next chunk starts from nothing.
    virtual void ChunkDone(const uint8_t* chunk, uint32_t length) = 0;
    // After a step: waits for what the next step would act on.
    virtual void ArmWaits(LinkWaits& waits) = 0;
    // A peer that held the chunk back has room for it now, with no descriptor to say
    // so (a peer that resumed the flow): the port offers the chunk again at once.
    virtual bool WantsChunkAgain() const { return false; }
    // Closes every socket of the link, each with its OnClose (the link is removed).
    virtual void Close() = 0;

    // False only for a TCP server or UDP link that has no bound socket on its local
    // port yet: the configuration load keeps such a link when the port is taken, and
    // the pump binds it once the port is free.
    virtual bool IsListening() const { return true; }
    // Takes the place of `old`, a link of the same port that goes, when this one could
    // not bind because `old` holds that very port: takes over old's socket (and a
    // server's clients), or binds anew once old let go of another address on it.
    // False when this link still has no socket; `old` then stays as it was.
    virtual bool TakeOver(CNetObject& old)
    {
        (void)old;
        return IsListening();
    }

    // Why a listening link could not bind when it last tried; empty otherwise.
    virtual Failure ListenFailure() const { return {}; }

    // A TCP client link's connection state; Unconnected for other kinds.
    virtual LinkState GetLinkState() const { return LinkState::Unconnected; }
    // A new connection attempt (the window's Reconnect), for a kind that connects out
    // and is Unconnected; false when there is nothing to do.
    virtual bool CanReconnect() const { return false; }
    virtual void Reconnect() {}

    // Line control: whether the link wants the application's line changes; news of
    // the application's side (line changes, an application opening or closing the port).
    virtual bool WantsLineReports() const { return false; }
    virtual void PortChanged(const PortNews& news) { (void)news; }

    // Figures: the connections a server link serves, with their peers; what the far
    // serial port last reported, for a link with line control (the current
    // connection's, or the last one's until the next connects).
    virtual size_t ClientCount() const { return 0; }
    virtual std::vector<std::string> ClientPeers() const { return {}; }
    // What each client's connection says of itself, in the order of ClientPeers ("asks
    // 115200 8N1, flow none"; empty for none).
    virtual std::vector<std::string> ClientNotes() const { return {}; }
    // The link as the traffic log and the monitor name it: "tcp-client 192.0.2.7:7000",
    // "tcp-server 7000", "udp 127.0.0.1:7001".
    virtual std::string Label() const = 0;
    // The link wherever the console names it to the user: its port, its place among
    // the port's links now, and its label: "COM2 #3 tcp-client 127.0.0.1:7201".
    std::string Name() const;
    // The same for a link known to stand at `position`.
    std::string Name(size_t position) const;
    // Where a chunk the link takes goes: a server's clients, a client's connected
    // address, a UDP link's destination ("127.0.0.1:7003"); none while it has no peer.
    virtual std::vector<std::string> Peers() const { return ClientPeers(); }
    virtual const ReportedLine* FarLine() const { return nullptr; }
    // A TLS link's own certificate and its connections' sessions.
    virtual TlsFigures TlsReport() const { return {}; }

    // The backlog: bytes kept for a peer that is down, and bytes dropped from it since
    // the link was made.
    size_t BacklogBytes() const { return Kept.Bytes(); }
    uint64_t BacklogDropped() const { return Kept.Dropped; }
    // Drops the backlog, saying how much and why (the link is removed, the console
    // stops, the link will not try again).
    void DiscardBacklog(const std::string& why);
    // An edited link carries on where `old`, the link it replaces, was: its backlog
    // and what its peer already has of the current chunk.
    virtual void TakeBacklogFrom(CNetObject& old) { Kept.TakeFrom(old.Kept); }

    // Counts a peer turned away, and says so (a flood of them is counted in the event
    // log, not written line by line).
    void CountRefused(std::string peer, std::string why);

    // Socket events a kind does not have. (A connection nobody takes is closed.)
    void OnAccept(CServerSocket*, CClientSocket* client, void*) override;
    void OnClose(CSocket*, void*) override {}
    void OnConnect(CClientSocket*, bool, void*) override {}

protected:
    // One line of the event log about this link ("COM3 tcp-client 192.0.2.7:7000: …").
    void Say(EventLevel level, const std::string& text) const;
    // A failure in the event log: a warning, or a debug line when it only repeats the
    // last one said (a link that keeps failing for the same reason says so once).
    void SayFailure(const std::string& text);
    // The link works again: said, and the next failure is news.
    void SayWorking(const std::string& text);

    // Keeps the rest of a chunk that the link could not give for want of a peer;
    // the first drop of an outage is said.
    void KeepForLater(const uint8_t* data, size_t count);
    // The link has a peer again: what the outage dropped is said.
    void BackOnline();

    PortSide& Port;
    Backlog Kept;
    LinkSettings Config;
    LinkStats Stats;

private:
    static uint64_t NextId();

    std::string SaidFailure;
};

inline void CNetObject::OnAccept(CServerSocket*, CClientSocket* client, void*)
{
    std::unique_ptr<CClientSocket> dropped(client);
}
