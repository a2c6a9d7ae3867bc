#include "console/NodeTexts.h"

#include <cstdint>

#include "forwarding/PortObject.h"
#include "net/NetAddress.h"
#include "net/NetObject.h"
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
    case Unconnected:
        return "(Unconnected)";
    case Connecting:
        return "(Connecting)";
    case Connected:
        return "(Connected)";
    }
    return {};
}

std::string LinkNodeText(const CNetObject& link)
{
    const std::string remote = HostPortText(link.RemoteAddr, link.RemotePort);
    // The listen address shows only when one is set.
    const std::string local = link.LocalAddr.empty() ? Unsigned(link.LocalPort)
                                                     : HostPortText(link.LocalAddr, static_cast<uint16_t>(link.LocalPort));
    // A link loaded while its local port was taken says so in front of its usual text.
    const std::string waiting = link.IsListening() ? std::string() : "(Not listening) ";
    switch (link.Type) {
    case TcpClient: {
        return StateText(link.GetLinkState()) + " TCP Client / Remote Addr:Port " + remote;
    }
    case TcpServer: {
        const std::string clients =
            waiting.empty() ? "(" + Unsigned(static_cast<int64_t>(link.Clients.size())) + ") " : waiting;
        return clients + "TCP Server / Listen Port " + local;
    }
    case Udp:
        return waiting + "UDP / Local Port " + local + ", Remote Addr:Port " + remote;
    }
    return {};
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
