#pragma once
#include "links/NetObject.h"
#include "net/AllowList.h"
#include "net/NetAddress.h"

// What TCP server and UDP links share: a socket bound to LocalPort on LocalAddr (every
// interface when empty), and the peers it takes (Allow). A link whose port cannot be
// had when it is loaded is kept, not listening, and tries to bind again every
// ListenRetryInterval. One whose settings cannot serve (a bad allow-list entry, a TLS
// file) never listens, and says why.
class ListeningLink : public CNetObject {
public:
    static constexpr int32_t ListenRetryInterval = 5000; // milliseconds

    Failure Start() override;
    bool IsListening() const override { return HasListener(); }
    Failure ListenFailure() const override { return HasListener() ? Failure {} : BindFailed; }
    bool TakeOver(CNetObject& old) override;
    int32_t Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) final;
    void ArmWaits(LinkWaits& waits) final;

protected:
    ListeningLink(NetKind kind, PortSide& port, uint16_t localPort, const LinkOptions& options);

    // Binds the kind's socket on `local`:LocalPort and wires it to this link.
    virtual Failure Bind(const NetAddress& local) = 0;
    virtual bool HasListener() const = 0;
    // Closes the listening socket alone (a server's clients stay).
    virtual void DropListener() = 0;
    // Takes `old`'s socket, and whatever came with it, when it is a link of this
    // kind; false otherwise.
    virtual bool TakeListenerFrom(ListeningLink& old) = 0;
    // Serve and ArmWaits of a listening link.
    virtual int32_t ServeListening(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) = 0;
    virtual void ArmListening(LinkWaits& waits) = 0;
    // The settings cannot serve: the link will not listen, for this reason (the
    // first one given stands).
    void SetUnusable(Failure why);
    // Whether `peer` is one the link takes; one it does not is counted.
    bool Admits(const NetAddress& peer, const std::string& shown);

private:
    // Binds; empty when listening, else why not (kept as BindFailed too), with the
    // link left without a socket.
    Failure Listen();
    // The pump's retry while the link is not listening.
    void RetryListen();

    Failure BindFailed; // why the last bind failed
    AllowList Allowed;
    Failure Unusable;   // why the settings cannot serve; empty when they can
};
