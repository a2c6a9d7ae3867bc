#include "console/ConsoleStatus.h"

#include "console/NodeTexts.h"
#include "forwarding/PortObject.h"
#include "ports/QLNManager.h"

ConsoleStatus TakeStatus(CQLNManager& manager, CPortObject* only, CNetObject* onlyLink, bool links)
{
    ConsoleStatus status;
    CGuard guard(manager.Lock());
    CQLNManager::PortList ports;
    manager.CopyPorts(&ports);
    for (CPortObject* port : ports) {
        if (only && port != only)
            continue;
        ConsoleStatus::Port& out = status.Ports.emplace_back();
        out.Number = port->GetPortNumber();
        out.LinkPath = PortDriver::Instance().LinkPath(out.Number);
        out.UnavailableReason = port->GetUnavailableReason();
        out.HeldByApplication = IsOpenedByApplication(port);
        out.SendToNetDelayTime = port->GetSendToNetDelayTime();
        out.ReceiveFromNetDelayTime = port->GetReceiveFromNetDelayTime();
        out.LogFilename = port->GetLogFilename();
        out.LogMode = port->GetLogMode();
        out.LogTimestamps = port->GetLogTimestamps();
        const TrafficLogState log = port->GetLogState();
        out.LogStopped = log.Stopped;
        out.LogStoppedReason = log.Reason;
        out.LogStoppedSince = log.Since;
        out.LogRecordsLost = log.LostRecords;
        out.ToNetQueued = port->ToNetQueued();
        out.FromNetQueued = port->FromNetQueued();
        out.DroppedDatagrams = port->GetDroppedDatagrams();
        out.BytesToApplication = port->GetBytesToApplication();
        out.BytesFromApplication = port->GetBytesFromApplication();
        size_t position = 0;
        for (const auto& link : port->GetNetLinks()) {
            if (!links)
                break;
            ++position;
            if (onlyLink && link.get() != onlyLink)
                continue;
            ConsoleStatus::Link& l = out.Links.emplace_back();
            l.Kind = link->Type;
            l.LocalPort = link->Settings().LocalPort;
            l.LocalAddr = link->Settings().LocalAddr;
            l.Rfc2217 = link->Settings().Rfc2217;
            l.RemoteAddr = link->Settings().RemoteAddr;
            l.RemotePort = link->Settings().RemotePort;
            l.State = link->GetLinkState();
            l.Listening = link->IsListening();
            l.Clients = link->ClientCount();
            l.ClientPeers = link->ClientPeers();
            l.ClientNotes = link->ClientNotes();
            l.AutoReconnect = link->Settings().AutoReconnect;
            l.ReconnectIntervalTime = link->Settings().ReconnectIntervalTime;
            l.NodeText = LinkNodeText(*link);
            l.Name = link->Name(position);
            l.BytesSent = link->Figures().BytesSent;
            l.BytesReceived = link->Figures().BytesReceived;
            l.LastChange = link->Figures().LastChange;
            l.LastError = link->Figures().LastError.Text();
            l.LastErrorTime = link->Figures().LastError.Time();
            const bool up = link->Type == NetKind::TcpClient ? l.State == LinkState::Connected : l.Listening;
            l.LastErrorPast = !l.LastError.empty() && up && l.LastChange >= l.LastErrorTime;
            if (const ReportedLine* far = link->FarLine()) {
                l.FarLineKnown = true;
                l.FarLine = *far;
            }
            l.Allow = link->Settings().Allow;
            l.MaxClients = link->Settings().MaxClients;
            l.Tls = link->Settings().Tls;
            if (link->Settings().Tls.On)
                l.TlsNow = link->TlsReport();
            l.Refused = link->Figures().Refused;
            l.LastRefusedPeer = link->Figures().LastRefusedPeer;
            l.LastRefusedWhy = link->Figures().LastRefusedWhy;
            l.Backlog = link->BacklogBytes();
            l.BacklogDropped = link->BacklogDropped();
        }
    }
    return status;
}
