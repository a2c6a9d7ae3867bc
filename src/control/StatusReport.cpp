#include "control/StatusReport.h"

#include <algorithm>
#include <cstdint>

#include "console/NodeTexts.h"
#include "control/JsonWriter.h"
#include "platform/base/EventLog.h"

namespace {

std::string KindName(NetKind kind)
{
    switch (kind) {
    case NetKind::TcpClient:
        return "tcp-client";
    case NetKind::TcpServer:
        return "tcp-server";
    case NetKind::Udp:
        return "udp";
    }
    return {};
}

std::string StateName(const ConsoleStatus::Link& link)
{
    if (link.Kind != NetKind::TcpClient)
        return link.Listening ? "listening" : "not-listening";
    switch (link.State) {
    case LinkState::Unconnected:
        return "unconnected";
    case LinkState::Connecting:
        return "connecting";
    case LinkState::Connected:
        return "connected";
    }
    return {};
}

// Codes as the far end sent them (0: not reported); the states null until reported.
// "127.0.0.1:50412", or with what the client said: "127.0.0.1:50412 asks 115200 8N1".
std::string ClientText(const ConsoleStatus::Link& link, size_t index)
{
    const std::string note = index < link.ClientNotes.size() ? link.ClientNotes[index] : std::string();
    return link.ClientPeers[index] + (note.empty() ? "" : " " + note);
}

std::string FarLineJson(const ReportedLine& line)
{
    JsonObject json;
    json.Bool("agreed", line.Agreed)
        .Unsigned("baud", line.Baud)
        .Num("dataSize", line.DataSize)
        .Num("parity", line.Parity)
        .Num("stopSize", line.StopSize)
        .Num("flowControl", line.FlowControl)
        .Num("dtr", line.Dtr)
        .Num("rts", line.Rts)
        .Raw("lineState", line.HaveLineState ? std::to_string(line.LineState) : "null")
        .Raw("modemState", line.HaveModemState ? std::to_string(line.ModemState) : "null")
        .Str("text", FarLineText(line));
    return json.Close();
}

std::string TlsJson(const ConsoleStatus::Link& link)
{
    JsonObject json;
    json.Str("cert", link.Tls.Cert).Str("key", link.Tls.Key).Str("ca", link.Tls.CA).Str("pin", link.Tls.Pin);
    if (!link.TlsNow.Fingerprint.empty())
        json.Str("fingerprint", link.TlsNow.Fingerprint).Str("notAfter", link.TlsNow.NotAfter);
    json.Raw("sessions", JsonArray(link.TlsNow.Sessions, [](const TlsSession& session) {
        JsonObject one;
        if (!session.Peer.empty())
            one.Str("peer", session.Peer);
        return one.Str("version", session.Version)
            .Str("cipher", session.Cipher)
            .Str("peerSubject", session.PeerSubject)
            .Str("peerFingerprint", session.PeerFingerprint)
            .Close();
    }));
    return json.Close();
}

// Peers turned away, and the last one: its address and why (null before any).
void RefusedJson(JsonObject& json, const ConsoleStatus::Link& link)
{
    json.Unsigned("refused", link.Refused)
        .Raw("lastRefused", link.LastRefusedPeer.empty() && link.LastRefusedWhy.empty()
                                ? "null"
                                : JsonObject().Str("address", link.LastRefusedPeer).Str("why", link.LastRefusedWhy).Close());
}

std::string LinkJson(const ConsoleStatus::Link& link, size_t index)
{
    JsonObject json;
    json.Unsigned("index", index).Str("name", link.Name).Str("kind", KindName(link.Kind)).Str("state", StateName(link));
    if (link.Kind != NetKind::TcpClient)
        json.Num("localPort", link.LocalPort);
    if (!link.LocalAddr.empty())
        json.Str("localAddress", link.LocalAddr);
    if (link.Rfc2217)
        json.Bool("rfc2217", true);
    if (link.FarLineKnown)
        json.Raw("farLine", FarLineJson(link.FarLine));
    if (link.Kind != NetKind::TcpServer)
        json.Str("remoteHost", link.RemoteAddr).Num("remotePort", link.RemotePort);
    if (link.Kind == NetKind::TcpClient)
        json.Bool("autoReconnect", link.AutoReconnect).Num("reconnectInterval", link.ReconnectIntervalTime);
    if (link.Kind == NetKind::TcpServer) {
        json.Raw("clients", JsonArray(link.ClientPeers, [](const std::string& peer) { return JsonString(peer); }));
        if (std::any_of(link.ClientNotes.begin(), link.ClientNotes.end(), [](const auto& note) { return !note.empty(); }))
            json.Raw("clientNotes", JsonArray(link.ClientNotes, [](const std::string& note) { return JsonString(note); }));
    }
    if (!link.Allow.empty())
        json.Str("allow", link.Allow);
    if (link.MaxClients != 0)
        json.Num("maxClients", link.MaxClients);
    if (link.Tls.On)
        json.Raw("tls", TlsJson(link));
    if (link.Kind != NetKind::TcpClient)
        RefusedJson(json, link);
    return json.Str("text", link.NodeText)
        .Unsigned("bytesSent", link.BytesSent)
        .Unsigned("bytesReceived", link.BytesReceived)
        .Unsigned("backlog", link.Backlog)
        .Unsigned("backlogDropped", link.BacklogDropped)
        .Num("lastChange", link.LastChange)
        .Str("lastError", link.LastError)
        .Num("lastErrorTime", link.LastErrorTime)
        .Bool("lastErrorPast", link.LastErrorPast)
        .Close();
}

// "off", or the file and its form: "/tmp/com3.log (hex, timestamps)".
std::string LogText(const ConsoleStatus::Port& port)
{
    if (port.LogFilename.empty())
        return "off";
    std::string form = port.LogMode ? "hex" : "";
    if (port.LogTimestamps)
        form += form.empty() ? "timestamps" : ", timestamps";
    return form.empty() ? port.LogFilename : port.LogFilename + " (" + form + ")";
}

// "stopped" always; why, since when and how many records were lost only when it is.
std::string LogJson(const ConsoleStatus::Port& port)
{
    JsonObject json;
    json.Str("file", port.LogFilename).Bool("hex", port.LogMode != 0);
    json.Bool("timestamps", port.LogTimestamps).Bool("stopped", port.LogStopped);
    if (port.LogStopped)
        json.Str("stoppedReason", port.LogStoppedReason)
            .Num("stoppedSince", port.LogStoppedSince)
            .Unsigned("recordsLost", port.LogRecordsLost);
    return json.Close();
}

std::string PortJson(const ConsoleStatus::Port& port)
{
    size_t index = 0;
    return JsonObject()
        .Str("name", "COM" + std::to_string(port.Number))
        .Num("number", port.Number)
        .Str("path", port.LinkPath)
        .Bool("available", port.UnavailableReason.empty())
        .Str("unavailableReason", port.UnavailableReason)
        .Bool("heldByApplication", port.HeldByApplication)
        .Num("sendDelay", port.SendToNetDelayTime)
        .Num("receiveDelay", port.ReceiveFromNetDelayTime)
        .Raw("log", LogJson(port))
        .Unsigned("bytesToApplication", port.BytesToApplication)
        .Unsigned("bytesFromApplication", port.BytesFromApplication)
        .Unsigned("queuedToNet", port.ToNetQueued)
        .Unsigned("queuedFromNet", port.FromNetQueued)
        .Unsigned("droppedDatagrams", port.DroppedDatagrams)
        .Raw("links", JsonArray(port.Links, [&index](const ConsoleStatus::Link& link) { return LinkJson(link, ++index); }))
        .Close();
}

// The link's text without the state the tree shows in front: "TCP Server / Listen
// Port 7001" for "(2) TCP Server / Listen Port 7001".
std::string LinkDescription(const ConsoleStatus::Link& link)
{
    const std::string& text = link.NodeText;
    const size_t close = text.find(") ");
    return text.starts_with("(") && close != std::string::npos ? text.substr(close + 2) : text;
}

// One fact of `status --follow`: its subject, name and value on one line, with
// tabs and line ends of the value (a path may hold them) made blanks.
void AddFact(std::string& facts, const std::string& what, const char* name, std::string value)
{
    for (char& c : value) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    facts += what + '\t' + name + '\t' + value + '\n';
}

// "2026-12-07 17:30:01.123 (past): Connection refused".
std::string FailureAndTime(const ConsoleStatus::Link& link)
{
    std::string text = link.LastErrorTime > 0 ? EventLog::TimeText(link.LastErrorTime) : std::string("at an unknown time");
    if (link.LastErrorPast)
        text += " (past)";
    return text + ": " + link.LastError;
}

// The allow list, the client limit, TLS and the peers turned away, a line each.
std::string TrustText(const ConsoleStatus::Link& link)
{
    std::string text;
    if (!link.Allow.empty() || link.MaxClients != 0) {
        text += "     ";
        if (!link.Allow.empty())
            text += "allow " + link.Allow + (link.MaxClients != 0 ? "; " : "");
        if (link.MaxClients != 0)
            text += "at most " + std::to_string(link.MaxClients) + " clients";
        text += "\n";
    }
    if (link.Tls.On) {
        text += "     TLS";
        if (!link.TlsNow.Fingerprint.empty())
            text += ", certificate " + link.TlsNow.Fingerprint + ", until " + link.TlsNow.NotAfter;
        text += "\n";
        for (const TlsSession& session : link.TlsNow.Sessions) {
            text += "     TLS " + (session.Peer.empty() ? std::string() : session.Peer + " ") + session.Version + " "
                + session.Cipher;
            if (!session.PeerSubject.empty() || !session.PeerFingerprint.empty())
                text += ", peer " + session.PeerSubject + " " + session.PeerFingerprint;
            text += "\n";
        }
    }
    if (link.Backlog != 0 || link.BacklogDropped != 0)
        text += "     backlog " + std::to_string(link.Backlog) + " bytes, " + std::to_string(link.BacklogDropped)
            + " dropped while down\n";
    if (link.Refused != 0)
        text += "     refused " + std::to_string(link.Refused) + ", last " + link.LastRefusedPeer + ": "
            + link.LastRefusedWhy + "\n";
    return text;
}

} // namespace

std::string LastFailureText(const ConsoleStatus::Link& link)
{
    return link.LastError.empty() ? std::string() : "last failure " + FailureAndTime(link);
}

std::string StatusFacts(const ConsoleStatus& status)
{
    std::string facts;
    auto count = [](uint64_t value) { return std::to_string(value); };
    for (const ConsoleStatus::Port& port : status.Ports) {
        const std::string name = "COM" + std::to_string(port.Number);
        AddFact(facts, name, "", port.UnavailableReason.empty() ? port.LinkPath : "unavailable: " + port.UnavailableReason);
        AddFact(facts, name, "held by an application", port.HeldByApplication ? "yes" : "no");
        AddFact(facts, name, "send delay", std::to_string(port.SendToNetDelayTime) + " ms");
        AddFact(facts, name, "receive delay", std::to_string(port.ReceiveFromNetDelayTime) + " ms");
        AddFact(facts, name, "log", LogText(port));
        AddFact(facts, name, "bytes to the application", count(port.BytesToApplication));
        AddFact(facts, name, "bytes from the application", count(port.BytesFromApplication));
        AddFact(facts, name, "bytes waiting for the application", count(port.FromNetQueued));
        AddFact(facts, name, "bytes waiting for the network", count(port.ToNetQueued));
        AddFact(facts, name, "datagrams dropped", count(port.DroppedDatagrams));
        size_t index = 0;
        for (const ConsoleStatus::Link& link : port.Links) {
            const std::string what = name + " #" + std::to_string(++index);
            AddFact(facts, what, "", LinkDescription(link));
            AddFact(facts, what, "state", StateName(link));
            if (link.Kind == NetKind::TcpClient) {
                AddFact(facts, what, "reconnect",
                        link.AutoReconnect ? "every " + std::to_string(link.ReconnectIntervalTime) + " ms" : "off");
            }
            if (link.Kind == NetKind::TcpServer) {
                std::string clients;
                for (size_t i = 0; i < link.ClientPeers.size(); ++i)
                    clients += (clients.empty() ? "" : ", ") + ClientText(link, i);
                AddFact(facts, what, "clients", clients.empty() ? "none" : clients);
            }
            AddFact(facts, what, "bytes sent", count(link.BytesSent));
            AddFact(facts, what, "bytes received", count(link.BytesReceived));
            // Without its time: a link that keeps failing for the same reason is no news
            // at every attempt; the change line has the time the failure was seen.
            AddFact(facts, what, "last failure",
                    link.LastError.empty() ? "none" : link.LastError + (link.LastErrorPast ? " (past)" : ""));
            if (link.FarLineKnown)
                AddFact(facts, what, "far line", FarLineText(link.FarLine));
        }
    }
    return facts;
}

std::string StatusJson(const ConsoleStatus& status, bool running, const InstancePaths& where)
{
    JsonObject json;
    json.Num("version", 1).Bool("running", running).Bool("window", status.Window);
    if (!where.Folder.empty())
        json.Str("runtimeFolder", where.Folder).Str("runtimeFolderNote", where.Passed);
    return json.Raw("ports", JsonArray(status.Ports, PortJson)).Close() + "\n";
}

std::string StatusText(const ConsoleStatus& status, bool running, const InstancePaths& where)
{
    std::string text;
    if (!running)
        text += "No console is running; installed ports and their links:\n";
    if (status.Ports.empty())
        text += "No ports.\n";
    for (const ConsoleStatus::Port& port : status.Ports) {
        text += "COM" + std::to_string(port.Number);
        if (!port.UnavailableReason.empty())
            text += " (Unavailable): " + port.UnavailableReason;
        else if (running)
            text += "  " + port.LinkPath + (port.HeldByApplication ? "  (held by an application)" : "");
        text += "\n  send delay " + std::to_string(port.SendToNetDelayTime) + " ms, receive delay "
            + std::to_string(port.ReceiveFromNetDelayTime) + " ms, log "
            + LogText(port)
            + (port.LogStopped ? "\n  " + LogStoppedText(port.LogStoppedReason, port.LogStoppedSince) + ", "
                                     + std::to_string(port.LogRecordsLost) + " records lost"
                               : std::string())
            + "\n  " + std::to_string(port.BytesToApplication) + " bytes to the application, "
            + std::to_string(port.BytesFromApplication) + " from it\n";
        for (const ConsoleStatus::Link& link : port.Links) {
            text += "  " + link.Name + ": " + link.NodeText + "\n     "
                + std::to_string(link.BytesSent) + " bytes sent, " + std::to_string(link.BytesReceived)
                + " received\n";
            for (size_t i = 0; i < link.ClientPeers.size(); ++i)
                text += "     client " + ClientText(link, i) + "\n";
            if (link.Rfc2217)
                text += std::string("     RFC 2217") + (link.FarLineKnown ? ", far line: " + FarLineText(link.FarLine) : "")
                    + "\n";
            text += TrustText(link);
            if (!link.LastError.empty())
                text += "     " + LastFailureText(link) + "\n";
        }
    }
    if (!where.Folder.empty())
        text += "Runtime folder " + where.Folder + (where.Passed.empty() ? "" : " (" + where.Passed + ")") + "\n";
    return text;
}
