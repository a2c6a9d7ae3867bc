#include "console/ConsoleView.h"

#include "console/ConsoleModel.h"
#include "console/NodeTexts.h"
#include "links/NetObject.h"

int32_t ConsoleView::PortNumber(CPortObject* port)
{
    return Model.Owns(port) ? port->GetPortNumber() : 0;
}

ConsoleView::PortSettings ConsoleView::SettingsOf(CPortObject* port)
{
    PortSettings settings;
    if (!Model.Owns(port))
        return settings;
    CGuard guard(Model.PortManager->Lock());
    settings.SendToNetDelayTime = port->GetSendToNetDelayTime();
    settings.ReceiveFromNetDelayTime = port->GetReceiveFromNetDelayTime();
    settings.LogFilename = port->GetLogFilename();
    settings.LogMode = port->GetLogMode();
    settings.LogTimestamps = port->GetLogTimestamps();
    return settings;
}

ConsoleView::LinkSettings ConsoleView::SettingsOf(CPortObject* port, CNetObject* link)
{
    LinkSettings settings;
    if (!Model.Owns(port, link))
        return settings;
    CGuard guard(Model.PortManager->Lock());
    settings.Kind = link->Type;
    settings.RemoteAddr = link->Settings().RemoteAddr;
    settings.AutoReconnect = link->Settings().AutoReconnect;
    settings.ReconnectIntervalTime = link->Settings().ReconnectIntervalTime;
    return settings;
}

std::string ConsoleView::PortText(CPortObject* port)
{
    return Model.Owns(port) ? PortNodeText(*port) : std::string();
}

std::string ConsoleView::ChangedLinkText(CPortObject* port, CNetObject* link, bool always)
{
    if (!Model.Owns(port, link))
        return {};
    CGuard guard(Model.PortManager->Lock());
    if (!link->Changed && !always)
        return {};
    link->Changed = false;
    return LinkTreeText(*link);
}

std::vector<std::pair<CNetObject*, std::string>> ConsoleView::ChangedLinkTexts(CPortObject* port)
{
    std::vector<std::pair<CNetObject*, std::string>> texts;
    if (!Model.Owns(port))
        return texts;
    CGuard guard(Model.PortManager->Lock());
    for (const auto& link : port->GetNetLinks()) {
        if (!link->Changed)
            continue;
        link->Changed = false;
        texts.emplace_back(link.get(), LinkTreeText(*link));
    }
    return texts;
}
