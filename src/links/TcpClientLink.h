#pragma once
#include <memory>

#include "links/Connection.h"
#include "links/NetObject.h"
#include "net/HostCache.h"

// A link that connects out to RemoteAddr:RemotePort and reconnects by itself every
// ReconnectIntervalTime after a failure or a close by the peer (unless AutoReconnect
// is off). It reaches its host through its host cache, so that neither the pump nor
// the window ever waits for a name server; a name with several addresses is tried
// address by address.
//
// With TLS, the server's certificate is checked in the handshake (see TlsContext);
// a server that fails the check gets none of the application's bytes, and the link
// says why and tries again as after any failure. A handshake longer than
// Limits.Handshake, and a connection that takes nothing for Limits.Stalled while the
// port's data waits for it, are closed the same way. A link whose TLS files cannot
// be had never connects, and says why.
//
// While it is down (connecting, reconnecting, in its TLS handshake) the chunks the
// port's other links give their peers wait in its backlog, and go first once it is up.
//
// Owns its connection (whose socket stays the same object across attempts); the
// connection's stages are made anew at each connect, from the link's options.
class TcpClientLink : public CNetObject {
public:
    TcpClientLink(PortSide& port, const char* host, uint16_t remotePort, const LinkOptions& options);
    ~TcpClientLink() override;

    Failure Start() override;
    int32_t Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) override;
    void ChunkDone(const uint8_t* chunk, uint32_t length) override;
    void TakeBacklogFrom(CNetObject& old) override;
    bool WantsChunkAgain() const override { return Link.WantsChunkAgain(); }
    void ArmWaits(LinkWaits& waits) override;
    void Close() override;

    LinkState GetLinkState() const override { return Link.Socket().GetState(); }
    bool CanReconnect() const override { return GetLinkState() == LinkState::Unconnected && !SetupFailed; }
    void Reconnect() override;
    bool WantsLineReports() const override { return Config.Rfc2217; }
    void PortChanged(const PortNews& news) override { Link.PortChanged(news); }
    std::string Label() const override;
    std::vector<std::string> Peers() const override;
    const ReportedLine* FarLine() const override { return Config.Rfc2217 ? Link.FarLine() : nullptr; }
    TlsFigures TlsReport() const override;
    // A link whose TLS files could not be had is refused by an edit, and says why.
    Failure ListenFailure() const override { return SetupFailed; }
    bool TakeOver(CNetObject& old) override
    {
        (void)old;
        return !SetupFailed;
    }

    void OnClose(CSocket* socket, void* userData) override;
    void OnConnect(CClientSocket* socket, bool success, void* userData) override;

    // The link's socket, for tests that look at its descriptor.
    CClientSocket& Socket() { return Link.Socket(); }

    // The pump never starts connection attempts of one link more often than this,
    // whatever ReconnectIntervalTime says (0 and negative values are stored and
    // shown as they are). Milliseconds.
    static constexpr int32_t ReconnectFloor = 100;

private:
    enum class ConnectStart { Started, Waiting, Failed };
    // Whether it will have one again without the user: it connects, or will try
    // again by itself. One that will not keeps no backlog and holds nothing.
    bool WillTry() const;
    // Sends what the backlog holds; `held` is set when the peer takes no more now.
    int32_t SendBacklog(bool& held);
    // What becomes of the chunk for a link that is up.
    int32_t OfferChunk(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer, bool& held);
    ConnectStart ConnectToRemote(bool ask);
    void TryAutoReconnect();
    void FinishWaitingConnect();
    void TryNextAddress();
    // The tick from which the next automatic attempt may start.
    int32_t ReconnectDue() const;
    // Closes a connection whose stages gave up, whose handshake took too long, or
    // that held the port's data back; 1 when it closed it.
    int32_t Police(int32_t now);

    Connection Link;
    HostCache Remote; // what is known of RemoteAddr
    // An attempt of the window's (the first one, or Reconnect) waits for the lookup of
    // RemoteAddr and starts when the answer comes.
    bool ConnectWhenResolved = false;
    // An attempt failed and the host has another address, which the pump tries right
    // after the poll that found the failure.
    bool NextAddressDue = false;
    // Tick at which the pump last started a connection attempt.
    int32_t LastAttemptTime = 0;
    // The address of the attempt under way, for the port's account of who sent what.
    std::string ConnectedTo;
    // Why the link's TLS cannot be had; the link then never connects.
    Failure SetupFailed;
};
