#include "console/LinkSpec.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "net/LocalAddress.h"
#include "net/NetAddress.h"
#include "platform/config/WholeNumber.h"

namespace {

const char* const AddNetFailed = "Add net failed!";

// One port text; false (and `check` refused) when it is not a number from 1 to 65535.
bool CheckPort(const std::string& text, const char* message, LinkCheck::Field field, uint16_t& port,
               LinkCheck& check)
{
    int32_t value = 0;
    if (ParseWholeNumber(text, value) && value >= 1 && value <= 65535) {
        port = static_cast<uint16_t>(value);
        return true;
    }
    check.Result = ConsoleResult::Refused(message, "Enter a port from 1 to 65535.");
    check.Failed = field;
    return false;
}

// The listen address: empty, or a numeric address of this machine.
bool CheckLocalAddr(const std::string& text, const char* message, LinkCheck& check)
{
    if (text.empty())
        return true;
    const std::string problem = LocalAddressProblem(text);
    if (problem.empty())
        return true;
    check.Result = ConsoleResult::Refused(message, problem);
    check.Failed = LinkCheck::Field::LocalAddr;
    return false;
}

// A UDP socket bound to one family's address cannot send to the other's; the
// wildcard "::" (and no address) takes both. A remote name shows its family only
// when it is looked up.
bool CheckUdpFamilies(const LinkSpec& spec, LinkCheck& check)
{
    NetAddress local;
    NetAddress remote;
    if (spec.LocalAddr.empty() || !NetAddress::FromNumeric(spec.LocalAddr.c_str(), local)
        || !NetAddress::FromNumeric(spec.RemoteAddr.c_str(), remote) || local.Family() == remote.Family())
        return true;
    if (local.IsAny6())
        return true;
    const bool remote6 = remote.Family() == AF_INET6;
    check.Result = ConsoleResult::Refused("Local Address error!",
                                          std::string("The remote address is ") + (remote6 ? "IPv6" : "IPv4")
                                              + " and the local address " + (remote6 ? "IPv4" : "IPv6") + ".");
    check.Failed = LinkCheck::Field::LocalAddr;
    return false;
}

} // namespace

LinkOptions OptionsOf(const LinkSpec& spec)
{
    LinkOptions options;
    if (spec.Kind == TcpServer || spec.Kind == Udp)
        options.LocalAddr = spec.LocalAddr;
    if (spec.Kind == TcpClient || spec.Kind == TcpServer)
        options.Rfc2217 = spec.Rfc2217;
    return options;
}

LinkCheck CheckLink(const LinkSpec& spec)
{
    LinkCheck check;
    using Field = LinkCheck::Field;
    switch (spec.Kind) {
    case TcpClient:
        CheckPort(spec.RemotePort, "Remote Port error!", Field::RemotePort, check.RemotePort, check);
        return check;
    case TcpServer:
        if (CheckPort(spec.LocalPort, "Listen Port error!", Field::LocalPort, check.LocalPort, check))
            CheckLocalAddr(spec.LocalAddr, "Listen Address error!", check);
        return check;
    case Udp:
        if (CheckPort(spec.LocalPort, "Local Port error!", Field::LocalPort, check.LocalPort, check)
            && CheckLocalAddr(spec.LocalAddr, "Local Address error!", check)
            && CheckPort(spec.RemotePort, "Remote Port error!", Field::RemotePort, check.RemotePort, check))
            CheckUdpFamilies(spec, check);
        return check;
    }
    check.Result = ConsoleResult::Refused(AddNetFailed, "Unknown link kind.");
    return check;
}

std::string BindFailureReason(uint16_t port, const std::string& why)
{
    if (why.empty())
        return {};
    if (why == std::strerror(EADDRINUSE))
        return "Port " + std::to_string(port) + " is already in use.";
    return "Port " + std::to_string(port) + ": " + why + ".";
}
