// The console model's commands on links: add, replace, remove, reconnect.
#include "console/ConsoleModel.h"

#include "forwarding/PortObject.h"
#include "links/NetObject.h"

namespace {

const char* const AddNetFailed = "Add net failed!";

} // namespace

ConsoleResult ConsoleModel::AddNet(CPortObject* port, const LinkFields& fields)
{
    if (!Owns(port))
        return ConsoleResult::Refused(AddNetFailed, "No such port.");
    const LinkCheck check = CheckLink(fields);
    if (!check.Result)
        return check.Result;

    Failure whyRefused;
    CNetObject* link = MakeLink(*port, fields, check, CPortObject::BindFailure::Refuse, whyRefused);
    if (!link)
        return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, whyRefused));
    Tell([port, link](ConsoleObserver& observer) { observer.LinkAdded(port, link); });
    ConsoleResult done = SavePortSettings(port);
    done.Port = port;
    done.Link = link;
    return done;
}

CNetObject* ConsoleModel::MakeLink(CPortObject& port, const LinkFields& fields, const LinkCheck& check,
                                   CPortObject::BindFailure onFailure, Failure& whyRefused)
{
    // The host goes to the link as typed; whether it can be reached shows only when
    // the link connects or sends.
    const LinkOptions options = OptionsOf(fields);
    switch (fields.Kind) {
    case NetKind::TcpClient:
        return port.AddTcpClient(fields.RemoteAddr.c_str(), check.RemotePort, options, onFailure, &whyRefused);
    case NetKind::TcpServer:
        return port.AddTcpServer(check.LocalPort, onFailure, &whyRefused, options);
    case NetKind::Udp:
        return port.AddUdp(check.LocalPort, fields.RemoteAddr.c_str(), check.RemotePort, onFailure, &whyRefused,
                           options);
    }
    return nullptr;
}

ConsoleResult ConsoleModel::ReplaceNet(CPortObject* port, CNetObject* link, const LinkFields& fields)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused(AddNetFailed, "No such link.");
    const LinkCheck check = CheckLink(fields);
    if (!check.Result)
        return check.Result;

    CNetObject* fresh = nullptr;
    Failure whyRefused;
    {
        // One hold from making the new link to the swap: the pump never serves both.
        CGuard guard(PortManager->Lock());
        // A port the old link holds cannot be bound a second time; the swap hands the
        // old socket over instead, so the new link is kept even when its bind failed.
        fresh = MakeLink(*port, fields, check, CPortObject::BindFailure::KeepAndRetry, whyRefused);
        if (fresh && fresh->Type == NetKind::TcpClient && link->Type == NetKind::TcpClient) {
            fresh->SetAutoReconnect(link->Settings().AutoReconnect);
            fresh->SetReconnectInterval(link->Settings().ReconnectIntervalTime);
        }
        if (fresh && !port->ReplaceLink(link, fresh, &whyRefused))
            fresh = nullptr;
        if (!fresh)
            return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, whyRefused));
    }
    Tell([&](ConsoleObserver& observer) { observer.LinkReplaced(port, link, fresh); });
    ConsoleResult done = SavePortSettings(port);
    done.Port = port;
    done.Link = fresh;
    return done;
}

ConsoleResult ConsoleModel::RemoveNet(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused({});
    port->RemoveLink(link);
    Tell([port, link](ConsoleObserver& observer) { observer.LinkRemoved(port, link); });
    return SavePortSettings(port);
}

ConsoleResult ConsoleModel::Reconnect(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused({});
    // The new state shows in the link's text at the next refresh: Reconnect marks it.
    if (link->Type == NetKind::TcpClient)
        port->Reconnect(link);
    return ConsoleResult::Done();
}

bool ConsoleModel::CanReconnect(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return false;
    // The pump changes the connection state; read it under the lock.
    CGuard guard(PortManager->Lock());
    return link->Type == NetKind::TcpClient && link->GetLinkState() == LinkState::Unconnected;
}

CNetObject* ConsoleModel::FindLink(CPortObject* port, size_t index)
{
    if (!Owns(port))
        return nullptr;
    CGuard guard(PortManager->Lock());
    CPortObject::NetLinkList& links = port->GetNetLinks();
    if (index >= links.size())
        return nullptr;
    return std::next(links.begin(), static_cast<std::ptrdiff_t>(index))->get();
}
