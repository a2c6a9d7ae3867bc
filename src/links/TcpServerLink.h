#pragma once
#include <list>
#include <memory>

#include "links/Connection.h"
#include "links/ListeningLink.h"
#include "net/ServerSocket.h"

// A link that listens on LocalPort and serves every client that connects: each chunk
// goes to every client, and what any client sends reaches the application.
//
// A client outside the allow list, or beyond MaxClients (a client counts from its
// accept, its TLS handshake included), is closed at accept: none of its bytes is
// read. With TLS, a client takes part in the traffic once its handshake is done; a
// handshake that fails or takes longer than Limits.Handshake closes it, and while
// Limits.Handshakes handshakes run, further clients wait in the system's queue. A
// client that takes nothing for Limits.Stalled while data waits for it is closed, so
// that it cannot hold the others.
//
// A client joins the traffic at the start of a chunk: one accepted while a chunk is
// under way starts with the next. A server link keeps no backlog: a client that is
// gone is gone, and without clients the link takes no part in the traffic.
//
// Owns its listening socket and the connections it accepted, in order of acceptance.
class TcpServerLink : public ListeningLink {
public:
    TcpServerLink(PortSide& port, uint16_t listenPort, const LinkOptions& options);
    ~TcpServerLink() override;

    void ChunkDone(const uint8_t* chunk, uint32_t length) override;
    bool WantsChunkAgain() const override;
    void Close() override;

    size_t ClientCount() const override { return Clients.size(); }
    std::vector<std::string> ClientPeers() const override;
    std::vector<std::string> ClientNotes() const override;
    void PortChanged(const PortNews& news) override;
    std::string Label() const override;
    TlsFigures TlsReport() const override;

    void OnAccept(CServerSocket* server, CClientSocket* client, void* userData) override;
    void OnClose(CSocket* socket, void* userData) override;

    // For tests that look at the descriptors.
    CServerSocket* Listener() { return Server.get(); }
    std::list<std::unique_ptr<Connection>>& Connections() { return Clients; }

private:
    Failure Bind(const NetAddress& local) override;
    bool HasListener() const override { return Server != nullptr; }
    void DropListener() override { Server.reset(); }
    bool TakeListenerFrom(ListeningLink& old) override;
    int32_t ServeListening(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) override;
    void ArmListening(LinkWaits& waits) override;
    // Polls the listener unless accepting is paused for want of descriptors, or
    // while the most handshakes run.
    int32_t ServeListener();
    bool AcceptPaused(int32_t now) const;
    size_t HandshakesUnderWay() const;
    // Closes a client whose stages gave up, whose handshake took too long, or that
    // held the others; 1 when it closed one.
    int32_t Police(Connection& client, int32_t now);
    // Says how a client's connection ended; nothing more is said of it.
    void SayClient(Connection& client, EventLevel level, const std::string& what);

    std::unique_ptr<CServerSocket> Server;
    std::list<std::unique_ptr<Connection>> Clients;
    // While descriptors run out, accepting pauses for AcceptBackoff milliseconds (0:
    // accepting normally) from the tick AcceptPausedAt.
    int32_t AcceptBackoff = 0;
    int32_t AcceptPausedAt = 0;
    // The port's current chunk has been offered: a client accepted now starts with
    // the next one.
    bool ChunkUnderWay = false;
    bool Closing = false; // in Close: the console ends the clients' connections
};
