#include "console/NodeTexts.h"

#include <cstdint>
#include <ctime>

#include "forwarding/PortObject.h"
#include "net/NetAddress.h"
#include "links/NetObject.h"
#include "platform/pty/PortDriver.h"

namespace {

// Numbers as the window has always shown them: unsigned decimal, no padding.
std::string Unsigned(int64_t value)
{
    return std::to_string(static_cast<uint32_t>(value));
}

} // namespace

std::string PortNodeText(CPortObject& port)
{
    const std::string text = "COM" + Unsigned(port.GetPortNumber());
    return port.GetUnavailableReason().empty() ? text : text + " (Unavailable)";
}

std::string StateText(LinkState state)
{
    switch (state) {
    case LinkState::Unconnected:
        return "(Unconnected)";
    case LinkState::Connecting:
        return "(Connecting)";
    case LinkState::Connected:
        return "(Connected)";
    }
    return {};
}

std::string LinkNodeText(const CNetObject& link)
{
    const std::string remote = HostPortText(link.Settings().RemoteAddr, link.Settings().RemotePort);
    // The listen address shows only when one is set.
    const std::string local = link.Settings().LocalAddr.empty() ? Unsigned(link.Settings().LocalPort)
                                                     : HostPortText(link.Settings().LocalAddr, static_cast<uint16_t>(link.Settings().LocalPort));
    // A link loaded while its local port was taken says so in front of its usual text.
    const std::string waiting = link.IsListening() ? std::string() : "(Not listening) ";
    switch (link.Type) {
    case NetKind::TcpClient: {
        return StateText(link.GetLinkState()) + " TCP Client / Remote Addr:Port " + remote;
    }
    case NetKind::TcpServer: {
        const std::string clients =
            waiting.empty() ? "(" + Unsigned(static_cast<int64_t>(link.ClientCount())) + ") " : waiting;
        return clients + "TCP Server / Listen Port " + local;
    }
    case NetKind::Udp:
        return waiting + "UDP / Local Port " + local + ", Remote Addr:Port " + remote;
    }
    return {};
}

std::string FarLineText(const ReportedLine& line)
{
    if (!line.Agreed)
        return "not agreed";
    auto pick = [](uint8_t code, const char* const* names, size_t count) -> std::string {
        return code >= 1 && code <= count ? names[code - 1] : "?";
    };
    static const char* const Parity[] = {"N", "O", "E", "M", "S"};
    static const char* const Stop[] = {"1", "2", "1.5"};
    static const char* const Flow[] = {"none", "XON/XOFF", "hardware"};
    auto hex = [](uint8_t value) {
        static const char Digits[] = "0123456789abcdef";
        return std::string("0x") + Digits[value >> 4] + Digits[value & 15];
    };
    std::string text = (line.Baud ? Unsigned(line.Baud) : "?") + " baud "
        + (line.DataSize ? Unsigned(line.DataSize) : "?") + pick(line.Parity, Parity, 5)
        + pick(line.StopSize, Stop, 3) + ", flow " + pick(line.FlowControl, Flow, 3);
    if (line.Dtr)
        text += line.Dtr == 8 ? ", DTR on" : ", DTR off";
    if (line.Rts)
        text += line.Rts == 11 ? ", RTS on" : ", RTS off";
    if (line.HaveModemState) {
        // The lines that are on, by name: a console at the far end raises DSR and CD
        // while a program holds its port.
        static const std::pair<uint8_t, const char*> Lines[] = {{0x10, "CTS"}, {0x20, "DSR"}, {0x40, "RI"}, {0x80, "CD"}};
        std::string on;
        for (const auto& [bit, name] : Lines) {
            if (line.ModemState & bit)
                on += on.empty() ? name : std::string(" ") + name;
        }
        text += ", modem state " + hex(line.ModemState) + " (" + (on.empty() ? "all off" : on) + ")";
    }
    if (line.HaveLineState)
        text += ", line state " + hex(line.LineState);
    return text;
}

std::string PortPlaceText(CPortObject& port)
{
    const std::string reason = port.GetUnavailableReason();
    return reason.empty() ? PortDriver::Instance().LinkPath(port.GetPortNumber()) : reason;
}

std::string OpenedPortsText(const CQLNManager::PortList& ports)
{
    std::string text;
    for (CPortObject* port : ports)
        text += "COM" + Unsigned(port->GetPortNumber()) + " is opened!\n";
    return text;
}

std::string LogStoppedText(const std::string& reason, int64_t since)
{
    const time_t seconds = static_cast<time_t>(since / 1000);
    const time_t now = ::time(nullptr);
    tm at {};
    tm today {};
    char when[32] = "";
    if (::localtime_r(&seconds, &at) && ::localtime_r(&now, &today)) {
        const bool sameDay = at.tm_year == today.tm_year && at.tm_yday == today.tm_yday;
        std::strftime(when, sizeof when, sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &at);
    }
    return "log stopped: " + reason + (when[0] ? std::string(" (since ") + when + ")" : std::string());
}

std::string LinkTreeText(const CNetObject& link)
{
    std::string text = LinkNodeText(link);
    const bool tls = link.Type != NetKind::Udp && link.Settings().Tls.On;
    const bool rfc2217 = link.Type != NetKind::Udp && link.Settings().Rfc2217;
    if (tls || rfc2217)
        text += std::string("  [") + (tls ? "TLS" : "") + (tls && rfc2217 ? ", " : "") + (rfc2217 ? "RFC 2217" : "") + "]";
    return text;
}
