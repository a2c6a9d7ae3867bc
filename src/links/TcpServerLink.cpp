// Implements TcpServerLink: a listener and the clients it accepted.
#include "links/TcpServerLink.h"

#include <algorithm>
#include <cerrno>

#include "links/ConnectionStages.h"
#include "links/LinkTexts.h"
#include "links/LinkWaits.h"
#include "links/PortSide.h"
#include "links/TlsContext.h"
#include "links/TlsStage.h"
#include "platform/base/CriticalSection.h"
#include "platform/base/TickCount.h"

namespace {

// How long a server link stops accepting once descriptors run out: the first pause,
// doubled while the shortage lasts up to the longest. Milliseconds.
constexpr int32_t AcceptPauseFirst = 250;
constexpr int32_t AcceptPauseLongest = 2000;

} // namespace

TcpServerLink::TcpServerLink(PortSide& port, uint16_t listenPort, const LinkOptions& options)
    : ListeningLink(NetKind::TcpServer, port, listenPort, options)
{
    Config.Rfc2217 = options.Rfc2217;
    Config.MaxClients = options.MaxClients;
    if (Config.MaxClients < 0)
        SetUnusable(Failure::Said("The client limit is not a number from 0 (no limit) to 65535."));
    Config.Tls = options.Tls;
    if (Config.Tls.On) {
        TlsContext::Made made = TlsContext::Make(Config.Tls, true);
        TlsSetup = std::move(made.Context);
        if (!TlsSetup)
            SetUnusable(std::move(made.Why));
    }
}

TcpServerLink::~TcpServerLink()
{
    Close();
}

void TcpServerLink::Close()
{
    // Each close reports OnClose for this link, which says so and marks it.
    Closing = true;
    while (!Clients.empty())
        Clients.pop_front();
    Server.reset();
    Closing = false;
}

Failure TcpServerLink::Bind(const NetAddress& local)
{
    auto socket = std::make_unique<CServerSocket>(static_cast<uint16_t>(Config.LocalPort), local);
    // A socket that failed goes before it has a handler: its close reports nothing.
    if (const Failure& failed = socket->GetLastFailure())
        return failed;
    socket->SetHandler(this);
    Server = std::move(socket);
    return {};
}

bool TcpServerLink::TakeListenerFrom(ListeningLink& other)
{
    auto* old = dynamic_cast<TcpServerLink*>(&other);
    if (!old)
        return false;
    // The sockets report their events to the link that handles them.
    Server = std::move(old->Server);
    Server->SetHandler(this);
    Clients = std::move(old->Clients);
    old->Clients.clear();
    ChunkUnderWay = old->ChunkUnderWay;
    for (auto& client : Clients)
        client->Socket().SetHandler(this);
    return true;
}

std::vector<std::string> TcpServerLink::ClientNotes() const
{
    std::vector<std::string> notes;
    for (const auto& client : Clients)
        notes.push_back(client->Note());
    return notes;
}

void TcpServerLink::PortChanged(const PortNews& news)
{
    for (auto& client : Clients)
        client->PortChanged(news);
}

std::string TcpServerLink::Label() const
{
    return "tcp-server " + (Config.LocalAddr.empty() ? std::to_string(Config.LocalPort) : HostPortText(Config.LocalAddr, static_cast<uint16_t>(Config.LocalPort)));
}

TlsFigures TcpServerLink::TlsReport() const
{
    TlsFigures figures;
    if (TlsSetup) {
        figures.Fingerprint = TlsSetup->Fingerprint();
        figures.NotAfter = TlsSetup->NotAfter();
    }
    for (const auto& client : Clients) {
        const TlsStage* tls = client->StageOf<TlsStage>();
        if (!tls || !tls->HandshakeDone())
            continue;
        TlsSession session = tls->Session();
        session.Peer = client->Peer();
        figures.Sessions.push_back(std::move(session));
    }
    return figures;
}

std::vector<std::string> TcpServerLink::ClientPeers() const
{
    std::vector<std::string> peers;
    for (const auto& client : Clients)
        peers.push_back(client->Peer());
    return peers;
}

bool TcpServerLink::WantsChunkAgain() const
{
    return std::any_of(Clients.begin(), Clients.end(), [](const auto& client) { return client->WantsChunkAgain(); });
}

void TcpServerLink::ChunkDone(const uint8_t*, uint32_t)
{
    ChunkUnderWay = false;
    for (auto& client : Clients)
        client->ChunkDone();
}

int32_t TcpServerLink::ServeListening(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer)
{
    int32_t work = 0;
    const int32_t now = GetTickCount32();
    ChunkUnderWay = ChunkUnderWay || chunk != nullptr;
    for (auto& client : Clients) {
        client->WaitsWritable = false;
        // A client still in its handshake is not a peer of the traffic yet: it gets
        // the chunks from the one under way when it is done.
        int32_t since = 0;
        if (!chunk || client->SkipsChunk || !client->IsConnected() || client->Opening(since)) {
            client->Stall.Note(false, client->Moved, now);
            continue;
        }
        bool held = false;
        if (client->Taken < length)
            work += client->Offer(chunk, length, held, Stats.BytesSent);
        client->Stall.Note(held && client->IsConnected(), client->Moved, now);
        // One that broke on the way is gone, and holds nothing.
        if (held && client->IsConnected())
            answer.Held = true;
        else if (!held)
            answer.Delivered = true;
    }
    // A connection accepted here starts with the next chunk.
    work += ServeListener();
    for (auto it = Clients.begin(); it != Clients.end();) {
        Connection& client = **it;
        // The mark is checked before every read, so a pass over many clients cannot
        // read far past it. A handshake goes on meanwhile: it gives the application
        // nothing, and a client held in it would only be closed for its slowness.
        int32_t since = 0;
        work += client.Poll(Port, Port.FromNetFull() && !client.Opening(since), Stats.BytesReceived);
        work += client.ServeWire();
        work += Police(client, now);
        // One that held the chunk back releases it as it goes: the next step offers
        // the next chunk at once.
        if (client.Socket().GetState() == LinkState::Unconnected) {
            it = Clients.erase(it);
            Port.PeerCameUp();
        } else {
            ++it;
        }
    }
    return work;
}

bool TcpServerLink::AcceptPaused(int32_t now) const
{
    return AcceptBackoff != 0 && !TickElapsed(now, AcceptPausedAt, AcceptBackoff);
}

size_t TcpServerLink::HandshakesUnderWay() const
{
    int32_t since = 0;
    return static_cast<size_t>(
        std::count_if(Clients.begin(), Clients.end(), [&since](const auto& client) { return client->Opening(since); }));
}

void TcpServerLink::SayClient(Connection& client, EventLevel level, const std::string& what)
{
    Say(level, "client " + client.Peer() + " " + what);
    client.SaidEnd = true;
}

int32_t TcpServerLink::Police(Connection& client, int32_t now)
{
    if (!client.IsConnected())
        return 0;
    int32_t since = 0;
    const bool opening = client.Opening(since);
    const Failure broken = client.Broken();
    if (!client.SaidUp && !opening && !broken) {
        client.SaidUp = true;
        Say(EventLevel::Info, "client " + client.Peer() + " connected");
    }
    if (client.Ended()) {
        // As a client that closes its connection.
        SayClient(client, EventLevel::Info, "left: TLS close_notify");
        client.CloseAfterFlush();
        return 1;
    }
    std::string why = broken.Reason();
    if (why.empty() && opening && TickElapsed(now, since, Limits.Handshake))
        why = HandshakeTooLongText(Limits.Handshake);
    if (!why.empty()) {
        // One that never finished its handshake was turned away; one that broke
        // later failed.
        const TlsStage* tls = client.StageOf<TlsStage>();
        if (tls && !tls->HandshakeDone()) {
            CountRefused(client.Peer(), why);
            client.SaidEnd = true;
        } else {
            Stats.LastError = Failure::Said(client.Peer() + ": " + why);
            SayClient(client, EventLevel::Warning, "closed: " + why);
        }
        client.CloseAfterFlush();
        return 1;
    }
    if (!client.Stall.Expired(now, Limits.Stalled))
        return 0;
    Stats.LastError = Failure::Said(client.Peer() + ": " + StalledText(Limits.Stalled));
    SayClient(client, EventLevel::Warning, "closed: " + StalledText(Limits.Stalled));
    client.Socket().Close();
    return 1;
}

int32_t TcpServerLink::ServeListener()
{
    const int32_t now = GetTickCount32();
    if (AcceptPaused(now) || HandshakesUnderWay() >= static_cast<size_t>(Limits.Handshakes))
        return 0;
    int32_t found = Server->Poll();
    if (!found || !Server->OutOfDescriptors()) {
        if (found)
            AcceptBackoff = 0;
        return found;
    }
    // Out of descriptors the connection stays queued and the listener readable:
    // polling it again at once would spin. It rests, longer while the shortage
    // lasts; the connections already accepted are served meanwhile.
    AcceptBackoff = AcceptBackoff ? std::min(AcceptBackoff * 2, AcceptPauseLongest) : AcceptPauseFirst;
    AcceptPausedAt = now;
    return 0;
}

void TcpServerLink::ArmListening(LinkWaits& waits)
{
    const bool paused = AcceptPaused(waits.Now);
    if (paused)
        waits.DueBy(TickAfter(AcceptPausedAt, AcceptBackoff));
    // While the most handshakes run, the next client waits for one of them to end
    // (its socket's report, or its due time, wakes the pump).
    const bool full = HandshakesUnderWay() >= static_cast<size_t>(Limits.Handshakes);
    waits.Watch(*Server, paused || full ? 0u : static_cast<uint32_t>(EPOLLIN));
    for (auto& client : Clients) {
        int32_t tick = 0;
        const bool opening = client->Opening(tick);
        if (opening)
            waits.DueBy(TickAfter(tick, Limits.Handshake));
        if (client->Stall.DueAt(Limits.Stalled, tick))
            waits.DueBy(tick);
        waits.Watch(client->Socket(), client->WaitEvents(waits.FromNetFull && !opening));
    }
}

void TcpServerLink::OnAccept(CServerSocket*, CClientSocket* client, void*)
{
    QLN_ASSERT_HELD(Port.Lock());
    std::unique_ptr<CClientSocket> owned(client);
    if (!owned)
        return;
    // Turned away before a byte of it is read: it closes here, with no handler.
    const std::string peer = owned->GetPeer().ToText();
    if (!Admits(owned->GetPeer(), peer))
        return;
    if (Config.MaxClients > 0 && Clients.size() >= static_cast<size_t>(Config.MaxClients)) {
        CountRefused(peer, ClientLimitText(Config.MaxClients));
        return;
    }
    owned->SetNoDelay(true);
    owned->SetKeepAlive();
    owned->SetHandler(this);
    auto accepted = std::make_unique<Connection>(std::move(owned), MakeOrigin(Label(), peer, Id));
    accepted->SkipsChunk = ChunkUnderWay;
    accepted->Socket().SetUserData(accepted.get());
    accepted->Restart(MakeStages(*this, ComPortSession::Role::Server, Port));
    // A TLS client is connected once its handshake is done (Police says so); one
    // turned away before is refused, never connected.
    int32_t since = 0;
    if (!accepted->Opening(since)) {
        accepted->SaidUp = true;
        Say(EventLevel::Info, "client " + accepted->Peer() + " connected");
    }
    Clients.push_back(std::move(accepted));
    Port.PeerCameUp();
    MarkChanged();
}

void TcpServerLink::OnClose(CSocket* socket, void* userData)
{
    // A client's connection (the listener has no user data).
    // One whose end was said already, or never said to be up, goes without a word.
    if (auto* client = static_cast<Connection*>(userData); client && client->SaidUp && !client->SaidEnd) {
        const Failure& why = socket->GetLastFailure();
        // A would-block left over from the last read is no reason.
        const bool failed = why.Errno != 0 && why.Errno != EAGAIN && why.Errno != EWOULDBLOCK;
        if (Closing)
            SayClient(*client, EventLevel::Info, "closed by the console");
        else
            SayClient(*client, EventLevel::Info, failed ? "left: " + why.Reason() : "left: closed by the peer");
    }
    MarkChanged();
}
