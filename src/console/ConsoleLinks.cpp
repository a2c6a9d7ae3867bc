#include "console/ConsoleLinks.h"

#include "console/ConsoleModel.h"
#include "links/NetObject.h"

namespace {

const char* const AddNetFailed = "Add net failed!";

} // namespace

ConsoleResult ConsoleLinks::AddNet(CPortObject* port, const LinkFields& fields)
{
    if (!Model.Owns(port))
        return ConsoleResult::Refused(AddNetFailed, "No such port.");
    const LinkCheck check = CheckLink(fields);
    if (!check.Result)
        return check.Result;

    const MadeLink made = MakeLink(*port, fields, check, CPortObject::BindFailure::Refuse);
    CNetObject* const link = made.Link;
    if (!link)
        return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, made.Why));
    Model.Tell([port, link](ConsoleObserver& observer) { observer.LinkAdded(port, link); });
    ConsoleResult done = Model.SavePortSettings(port);
    done.Port = port;
    done.Link = link;
    return done;
}

MadeLink ConsoleLinks::MakeLink(CPortObject& port, const LinkFields& fields, const LinkCheck& check,
                                CPortObject::BindFailure onFailure)
{
    // The host goes to the link as typed; whether it can be reached shows only when
    // the link connects or sends.
    const LinkOptions options = OptionsOf(fields);
    switch (fields.Kind) {
    case NetKind::TcpClient:
        return port.AddTcpClient(fields.RemoteAddr.c_str(), check.RemotePort, options, onFailure);
    case NetKind::TcpServer:
        return port.AddTcpServer(check.LocalPort, onFailure, options);
    case NetKind::Udp:
        return port.AddUdp(check.LocalPort, fields.RemoteAddr.c_str(), check.RemotePort, onFailure, options);
    }
    return {};
}

ConsoleResult ConsoleLinks::ReplaceNet(CPortObject* port, CNetObject* link, const LinkFields& fields)
{
    if (!Model.Owns(port, link))
        return ConsoleResult::Refused(AddNetFailed, "No such link.");
    const LinkCheck check = CheckLink(fields);
    if (!check.Result)
        return check.Result;

    CNetObject* fresh = nullptr;
    {
        // One hold from making the new link to the swap: the pump never serves both.
        CGuard guard(Model.PortManager->Lock());
        // A port the old link holds cannot be bound a second time; the swap hands the
        // old socket over instead, so the new link is kept even when its bind failed.
        MadeLink made = MakeLink(*port, fields, check, CPortObject::BindFailure::KeepAndRetry);
        fresh = made.Link;
        if (fresh && fresh->Type == NetKind::TcpClient && link->Type == NetKind::TcpClient) {
            fresh->SetAutoReconnect(link->Settings().AutoReconnect);
            fresh->SetReconnectInterval(link->Settings().ReconnectIntervalTime);
        }
        if (fresh) {
            MadeLink replaced = port->ReplaceLink(link, fresh);
            fresh = replaced.Link;
            if (!fresh)
                made.Why = replaced.Why;
        }
        if (!fresh)
            return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, made.Why));
    }
    Model.Tell([&](ConsoleObserver& observer) { observer.LinkReplaced(port, link, fresh); });
    ConsoleResult done = Model.SavePortSettings(port);
    done.Port = port;
    done.Link = fresh;
    return done;
}

ConsoleResult ConsoleLinks::RemoveNet(CPortObject* port, CNetObject* link)
{
    if (!Model.Owns(port, link))
        return ConsoleResult::Refused({});
    port->RemoveLink(link);
    Model.Tell([port, link](ConsoleObserver& observer) { observer.LinkRemoved(port, link); });
    return Model.SavePortSettings(port);
}

ConsoleResult ConsoleLinks::Reconnect(CPortObject* port, CNetObject* link)
{
    if (!Model.Owns(port, link))
        return ConsoleResult::Refused({});
    // The new state shows in the link's text at the next refresh: Reconnect marks it.
    if (link->Type == NetKind::TcpClient)
        port->Reconnect(link);
    return ConsoleResult::Done();
}

bool ConsoleLinks::CanReconnect(CPortObject* port, CNetObject* link)
{
    if (!Model.Owns(port, link))
        return false;
    // The pump changes the connection state; read it under the lock.
    CGuard guard(Model.PortManager->Lock());
    return link->Type == NetKind::TcpClient && link->GetLinkState() == LinkState::Unconnected;
}

CNetObject* ConsoleLinks::FindLink(CPortObject* port, size_t index)
{
    if (!Model.Owns(port))
        return nullptr;
    CGuard guard(Model.PortManager->Lock());
    CPortObject::NetLinkList& links = port->GetNetLinks();
    if (index >= links.size())
        return nullptr;
    return std::next(links.begin(), static_cast<std::ptrdiff_t>(index))->get();
}
