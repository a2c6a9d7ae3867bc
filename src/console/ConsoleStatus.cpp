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
            l.LocalPort = link->LocalPort;
            l.LocalAddr = link->LocalAddr;
            l.Rfc2217 = link->Rfc2217;
            l.RemoteAddr = link->RemoteAddr;
            l.RemotePort = link->RemotePort;
            l.State = link->GetLinkState();
            l.Listening = link->IsListening();
            l.Clients = link->ClientCount();
            l.ClientPeers = link->ClientPeers();
            l.ClientNotes = link->ClientNotes();
            l.AutoReconnect = link->AutoReconnect;
            l.ReconnectIntervalTime = link->ReconnectIntervalTime;
            l.NodeText = LinkNodeText(*link);
            l.Name = link->Name(position);
            l.BytesSent = link->BytesSent;
            l.BytesReceived = link->BytesReceived;
            l.LastChange = link->LastChange;
            l.LastError = link->LastError.Text();
            l.LastErrorTime = link->LastError.Time();
            const bool up = link->Type == TcpClient ? l.State == Connected : l.Listening;
            l.LastErrorPast = !l.LastError.empty() && up && l.LastChange >= l.LastErrorTime;
            if (const ReportedLine* far = link->FarLine()) {
                l.FarLineKnown = true;
                l.FarLine = *far;
            }
            l.Allow = link->Allow;
            l.MaxClients = link->MaxClients;
            l.Tls = link->Tls;
            if (link->Tls.On)
                l.TlsNow = link->TlsReport();
            l.Refused = link->Refused;
            l.LastRefusedPeer = link->LastRefusedPeer;
            l.LastRefusedWhy = link->LastRefusedWhy;
            l.Backlog = link->BacklogBytes();
            l.BacklogDropped = link->BacklogDropped();
        }
    }
    return status;
}
