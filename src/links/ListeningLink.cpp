// Implements ListeningLink: binding, and binding again, on a local port.
#include "links/ListeningLink.h"

#include "links/LinkWaits.h"
#include "links/PortSide.h"
#include "platform/base/CriticalSection.h"
#include "platform/base/TickCount.h"

ListeningLink::ListeningLink(NetKind kind, PortSide& port, uint16_t localPort, const LinkOptions& options)
    : CNetObject(kind, port)
{
    Config.LocalPort = localPort;
    Config.LocalAddr = options.LocalAddr;
    Config.Allow = options.Allow;
    Limits = options.Limits;
    if (Failure bad = AllowList::Parse(Config.Allow, Allowed))
        SetUnusable(std::move(bad));
}

void ListeningLink::SetUnusable(Failure why)
{
    if (!Unusable)
        Unusable = std::move(why);
}

bool ListeningLink::Admits(const NetAddress& peer, const std::string& shown)
{
    if (Allowed.Allows(peer))
        return true;
    CountRefused(shown, "not in the allow list");
    return false;
}

Failure ListeningLink::Start()
{
    Failure failed = Listen();
    if (failed)
        LastFailTime = GetTickCount32();
    return failed;
}

Failure ListeningLink::Listen()
{
    QLN_ASSERT_HELD(Port.Lock());
    // A stored address that is not numeric never falls back to every interface: the
    // link waits, not listening, with the reason.
    NetAddress local;
    if (Unusable) {
        BindFailed = Unusable;
        Stats.LastError = BindFailed;
        return BindFailed;
    }
    if (!Config.LocalAddr.empty() && !NetAddress::FromNumeric(Config.LocalAddr.c_str(), local)) {
        BindFailed = Failure::Said(Config.LocalAddr + " is not a numeric address");
        Stats.LastError = BindFailed;
        SayFailure("cannot listen: " + Stats.LastError.Text());
        return BindFailed;
    }
    BindFailed = Bind(local);
    if (BindFailed) {
        Stats.LastError = BindFailed;
        SayFailure("cannot listen: " + Stats.LastError.Text());
    } else {
        SayWorking("listening");
        MarkChanged(); // its last change of state: from now on it listens
    }
    return BindFailed;
}

void ListeningLink::RetryListen()
{
    const int32_t now = GetTickCount32();
    if (Unusable || !TickElapsed(now, LastFailTime, ListenRetryInterval))
        return;
    if (!Listen())
        MarkChanged(); // the window shows it listening from the next tick
    else
        LastFailTime = now;
}

int32_t ListeningLink::Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer)
{
    // A link still waiting for its local port takes no part in the traffic, as if it
    // were not there yet; it only tries to bind again now and then.
    if (!HasListener()) {
        RetryListen();
        return 0;
    }
    return ServeListening(chunk, length, answer);
}

void ListeningLink::ArmWaits(LinkWaits& waits)
{
    if (!HasListener()) {
        if (!Unusable)
            waits.DueBy(TickAfter(LastFailTime, ListenRetryInterval));
        return;
    }
    ArmListening(waits);
}

bool ListeningLink::TakeOver(CNetObject& other)
{
    QLN_ASSERT_HELD(Port.Lock());
    auto* old = dynamic_cast<ListeningLink*>(&other);
    // Settings that cannot serve refuse the edit; the old link stays.
    if (Unusable)
        return false;
    if (HasListener() || !old || old->Type != Type || old->Settings().LocalPort != Config.LocalPort || !old->HasListener())
        return HasListener();
    if (Config.LocalAddr != old->Settings().LocalAddr) {
        // The same port on another address: old's socket holds the port, so it goes
        // first, and comes back when the new address cannot be had. Its connections
        // came in on the address given up: they go with old, unless it stays.
        old->DropListener();
        if (!Listen()) {
            Stats.LastError.clear();
            MarkChanged();
        } else if (old->Listen()) {
            old->LastFailTime = GetTickCount32();
        }
        old->MarkChanged();
        return HasListener();
    }
    if (!TakeListenerFrom(*old))
        return false;
    Stats.LastError.clear();
    MarkChanged();
    return true;
}
