// Implements TcpClientLink: a link that connects out, and reconnects.
#include "links/TcpClientLink.h"

#include <algorithm>

#include "links/ConnectionStages.h"
#include "links/LinkTexts.h"
#include "links/LinkWaits.h"
#include "links/PortSide.h"
#include "links/TlsContext.h"
#include "links/TlsStage.h"
#include "platform/base/CriticalSection.h"
#include "platform/base/TickCount.h"

TcpClientLink::TcpClientLink(PortSide& port, const char* host, uint16_t remotePort, const LinkOptions& options)
    : CNetObject(NetKind::TcpClient, port), Link(std::make_unique<CClientSocket>())
{
    Config.RemoteAddr = host;
    Config.RemotePort = remotePort;
    Config.Rfc2217 = options.Rfc2217;
    Config.Tls = options.Tls;
    Limits = options.Limits;
    if (Config.Tls.On) {
        TlsContext::Made made = TlsContext::Make(Config.Tls, false);
        TlsSetup = std::move(made.Context);
        SetupFailed = std::move(made.Why);
        if (!TlsSetup)
            Stats.LastError = SetupFailed;
    }
    Link.Socket().SetHandler(this);
    Link.Socket().SetUserData(&Link);
}

TcpClientLink::~TcpClientLink()
{
    Close();
}

Failure TcpClientLink::Start()
{
    if (SetupFailed)
        return SetupFailed;
    // A first attempt that cannot even start still makes the link; the pump tries
    // again once the reconnect interval has passed. One that waits for the host's
    // lookup starts when the answer comes.
    if (ConnectToRemote(true) == ConnectStart::Waiting)
        ConnectWhenResolved = true;
    MarkChanged();
    return {};
}

std::string TcpClientLink::Label() const
{
    return "tcp-client " + HostPortText(Config.RemoteAddr, Config.RemotePort);
}

std::vector<std::string> TcpClientLink::Peers() const
{
    if (GetLinkState() != LinkState::Connected)
        return {};
    return {ConnectedTo};
}

void TcpClientLink::Close()
{
    if (Link.IsConnected())
        Say(EventLevel::Info, "closed by the console");
    // Closing reports OnClose, which only marks the link.
    Link.Socket().Close();
}

void TcpClientLink::Reconnect()
{
    if (!CanReconnect() || SetupFailed)
        return;
    ConnectStart started = ConnectToRemote(true);
    if (started == ConnectStart::Started)
        MarkChanged();
    else if (started == ConnectStart::Waiting)
        ConnectWhenResolved = true;
}

bool TcpClientLink::WillTry() const
{
    if (SetupFailed)
        return false;
    return Config.AutoReconnect || Link.Socket().GetState() != LinkState::Unconnected || ConnectWhenResolved || NextAddressDue;
}

int32_t TcpClientLink::SendBacklog(bool& held)
{
    int32_t work = 0;
    while (!Kept.Empty() && Link.IsConnected()) {
        uint32_t taken = 0;
        bool refused = false;
        const auto length = static_cast<uint32_t>(Kept.FrontLength());
        work += Link.Offer(Kept.Front(), length, taken, refused, Stats.BytesSent);
        // What the connection took is gone, even if it broke right after.
        Kept.Consume(taken);
        if (refused) {
            held = Link.IsConnected();
            break;
        }
    }
    return work;
}

int32_t TcpClientLink::OfferChunk(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer, bool& held)
{
    if (!Kept.Empty()) {
        // Behind the backlog: it joins it while there is room, and holds the port
        // when there is none; a link with a peer never drops.
        if (!Kept.Fits(length - Link.Taken)) {
            answer.Held = true;
            return 0;
        }
        Kept.Keep(chunk + Link.Taken, length - Link.Taken);
        Link.Taken = length;
        answer.Delivered = true;
        return 1;
    }
    bool refused = false;
    const int32_t work = Link.Offer(chunk, length, refused, Stats.BytesSent);
    if (!refused)
        answer.Delivered = true;
    else if (Link.IsConnected())
        answer.Held = held = true;
    else if (WillTry())
        answer.Waiting = true; // it broke: the rest waits for the next connection
    return work;
}

int32_t TcpClientLink::Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer)
{
    int32_t work = 0;
    Link.WaitsWritable = false;
    const int32_t now = GetTickCount32();
    int32_t since = 0;
    const bool opening = Link.Opening(since);
    // Held back by a peer that is up: what the stall rule watches.
    bool held = false;
    const bool up = Link.IsConnected() && !opening;
    if (up) {
        BackOnline();
        work += SendBacklog(held);
    } else if (!WillTry() && !Kept.Empty()) {
        DiscardBacklog("the link will not connect again by itself");
    }
    if (chunk) {
        if (Link.Taken >= length)
            answer.Delivered = true;
        else if (up && Link.IsConnected()) // the backlog's sending may have broken it
            work += OfferChunk(chunk, length, answer, held);
        else if (WillTry())
            answer.Waiting = true; // not connected, or in its handshake: waiting is not work
    }
    Link.Stall.Note(held, Link.Moved, now);
    work += Link.Poll(Port, Port.FromNetFull() && !opening, Stats.BytesReceived);
    work += Link.ServeWire();
    work += Police(now);
    TryNextAddress();
    FinishWaitingConnect();
    TryAutoReconnect();
    return work;
}

void TcpClientLink::ChunkDone(const uint8_t* chunk, uint32_t length)
{
    // What the link did not give of the chunk waits for its next connection, unless
    // it will never have one.
    if (chunk && Link.Taken < length && WillTry())
        KeepForLater(chunk + Link.Taken, length - Link.Taken);
    Link.ChunkDone();
}

void TcpClientLink::TakeBacklogFrom(CNetObject& old)
{
    CNetObject::TakeBacklogFrom(old);
    // The bytes of the current chunk the old link's peer already has are not sent
    // again.
    if (auto* client = dynamic_cast<TcpClientLink*>(&old))
        Link.Taken = client->Link.Taken;
}

void TcpClientLink::ArmWaits(LinkWaits& waits)
{
    CClientSocket& socket = Link.Socket();
    uint32_t events = 0;
    switch (socket.GetState()) {
    case LinkState::Connected: {
        int32_t tick = 0;
        const bool opening = Link.Opening(tick);
        if (opening)
            waits.DueBy(TickAfter(tick, Limits.Handshake));
        if (Link.Stall.DueAt(Limits.Stalled, tick))
            waits.DueBy(tick);
        events = Link.WaitEvents(waits.FromNetFull && !opening);
        // A backlog that a stage held back goes once the stage lets it: nothing
        // reports that.
        if (!opening && !Kept.Empty() && Link.WantsChunkAgain())
            waits.DueBy(waits.Now);
        break;
    }
    case LinkState::Connecting:
        events = EPOLLOUT;
        break;
    case LinkState::Unconnected:
        // A failed attempt's descriptor stays open, reporting its failure: it is not
        // waited on. While its host is looked up the link waits for the resolver's
        // answer.
        if (Config.AutoReconnect && !Remote.Waiting() && !SetupFailed)
            waits.DueBy(ReconnectDue());
        break;
    }
    waits.Watch(socket, events);
}

int32_t TcpClientLink::ReconnectDue() const
{
    int32_t afterFailure = TickAfter(LastFailTime, std::max(Config.ReconnectIntervalTime, ReconnectFloor));
    int32_t afterAttempt = TickAfter(LastAttemptTime, ReconnectFloor);
    return TickElapsed(afterAttempt, afterFailure, 0) ? afterAttempt : afterFailure;
}

// Connects to the address the cache gives. One that cannot even be tried (no route
// to it, no IPv6 on this machine) gives way at once to the next address of the
// host's answer; a Connecting socket is left to the pump, which tries the next one
// when it fails (OnConnect).
TcpClientLink::ConnectStart TcpClientLink::ConnectToRemote(bool ask)
{
    QLN_ASSERT_HELD(Port.Lock());
    CClientSocket& socket = Link.Socket();
    for (;;) {
        NetAddress address;
        switch (Remote.Get(Port.Resolver(), Config.RemoteAddr, ask, 0, address)) {
        case HostCache::Answer::Pending:
            return ConnectStart::Waiting;
        case HostCache::Answer::Failed:
            // As a Connect to a host that does not resolve: the handle of an earlier
            // attempt goes (with its OnClose), and the attempt cannot start.
            socket.Close();
            Stats.LastError = Failure::Said("Name does not resolve");
            SayFailure("cannot connect: Name does not resolve");
            return ConnectStart::Failed;
        case HostCache::Answer::Ready:
            break;
        }
        address.SetPort(Config.RemotePort);
        Failure failed = socket.Connect(address);
        if (!failed) {
            ConnectedTo = address.ToText();
            Say(EventLevel::Debug, "connecting to " + ConnectedTo);
            return ConnectStart::Started;
        }
        Stats.LastError = std::move(failed);
        SayFailure("cannot connect to " + address.ToText() + ": " + Stats.LastError.Text());
        if (!Remote.Advance())
            return ConnectStart::Failed;
    }
}

int32_t TcpClientLink::Police(int32_t now)
{
    if (!Link.IsConnected())
        return 0;
    int32_t since = 0;
    const bool opening = Link.Opening(since);
    const Failure broken = Link.Broken();
    if (!Link.SaidUp && !opening && !broken) {
        Link.SaidUp = true;
        SayWorking("connected to " + ConnectedTo);
    }
    std::string why = Link.Ended() ? "Closed by the peer (TLS close_notify)" : broken.Reason();
    if (why.empty() && opening && TickElapsed(now, since, Limits.Handshake))
        why = HandshakeTooLongText(Limits.Handshake);
    if (why.empty() && Link.Stall.Expired(now, Limits.Stalled))
        why = StalledText(Limits.Stalled);
    if (why.empty())
        return 0;
    // As any failed connection: the link says why and tries again after its interval.
    Stats.LastError = Failure::Said(why);
    SayFailure(why);
    if (Config.AutoReconnect)
        LastFailTime = now;
    Link.CloseAfterFlush();
    return 1;
}

TlsFigures TcpClientLink::TlsReport() const
{
    TlsFigures figures;
    if (!TlsSetup)
        return figures;
    figures.Fingerprint = TlsSetup->Fingerprint();
    figures.NotAfter = TlsSetup->NotAfter();
    const TlsStage* tls = Link.IsConnected() ? Link.StageOf<TlsStage>() : nullptr;
    if (tls && tls->HandshakeDone() && !tls->Broken())
        figures.Sessions.push_back(tls->Session());
    return figures;
}

void TcpClientLink::TryAutoReconnect()
{
    if (Link.Socket().GetState() != LinkState::Unconnected || !Config.AutoReconnect || SetupFailed)
        return;
    int32_t now = GetTickCount32();
    if (!TickElapsed(now, ReconnectDue(), 0))
        return;
    // One that waits for its host's lookup is made when the answer wakes the pump.
    ConnectStart started = ConnectToRemote(true);
    if (started != ConnectStart::Waiting)
        LastAttemptTime = now;
    if (started == ConnectStart::Started)
        MarkChanged();
    else if (started == ConnectStart::Failed)
        LastFailTime = GetTickCount32();
}

// The window's attempts (the first one and Reconnect) are made whether or not the
// link reconnects by itself, so one that waited for its host is finished here.
// Like the window's own attempts it leaves LastFailTime alone.
void TcpClientLink::FinishWaitingConnect()
{
    if (!ConnectWhenResolved || SetupFailed)
        return;
    if (Link.Socket().GetState() != LinkState::Unconnected) {
        ConnectWhenResolved = false;
        return;
    }
    switch (ConnectToRemote(false)) {
    case ConnectStart::Waiting:
        return;
    case ConnectStart::Started:
        MarkChanged();
        break;
    case ConnectStart::Failed:
        break;
    }
    ConnectWhenResolved = false;
}

// A connection attempt failed and the host has another address: it is tried at once,
// whoever started the attempt, so a name with an unreachable first address connects
// without waiting for the reconnect interval.
void TcpClientLink::TryNextAddress()
{
    if (!NextAddressDue)
        return;
    NextAddressDue = false;
    if (Link.Socket().GetState() != LinkState::Unconnected)
        return;
    switch (ConnectToRemote(false)) {
    case ConnectStart::Started:
        MarkChanged();
        break;
    case ConnectStart::Failed:
        if (Config.AutoReconnect)
            LastFailTime = GetTickCount32();
        break;
    case ConnectStart::Waiting:
        break;
    }
}

void TcpClientLink::OnClose(CSocket*, void*)
{
    QLN_ASSERT_HELD(Port.Lock());
    if (Link.Socket().GetClosedByPeer()) {
        Stats.LastError = Failure::Said("Closed by the peer");
        if (Config.AutoReconnect)
            LastFailTime = GetTickCount32();
        // A reset says so; an orderly close has no failure.
        const Failure& why = Link.Socket().GetLastFailure();
        SayFailure(why.Errno != 0 ? "closed by the peer: " + why.Reason() : std::string("closed by the peer"));
    }
    MarkChanged();
}

void TcpClientLink::OnConnect(CClientSocket* socket, bool success, void*)
{
    QLN_ASSERT_HELD(Port.Lock());
    if (success) {
        socket->SetNoDelay(true);
        socket->SetKeepAlive();
        Link.Stall = {};
        Link.Restart(MakeStages(*this, ComPortSession::Role::Client, Port), MakeOrigin(Label(), ConnectedTo, Id));
        Port.PeerCameUp();
        // With TLS the link is connected once its handshake is done (Police says so).
        int32_t since = 0;
        Link.SaidUp = !Link.Opening(since);
        if (Link.SaidUp)
            SayWorking("connected to " + ConnectedTo);
    } else {
        Stats.LastError = socket->GetLastFailure();
        SayFailure("connect to " + ConnectedTo + " failed: " + Stats.LastError.Text());
        // The next address of the host, if it has one, is tried right after this
        // poll; the reconnect interval counts from the failure of the last.
        if (Remote.Advance())
            NextAddressDue = true;
        else if (Config.AutoReconnect)
            LastFailTime = GetTickCount32();
    }
    MarkChanged();
}
