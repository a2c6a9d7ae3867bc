#include "console/LinkSpec.h"

#include <cerrno>
#include <climits>
#include <cstring>

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

} // namespace

LinkCheck CheckLink(const LinkSpec& spec)
{
    LinkCheck check;
    using Field = LinkCheck::Field;
    switch (spec.Kind) {
    case TcpClient:
        CheckPort(spec.RemotePort, "Remote Port error!", Field::RemotePort, check.RemotePort, check);
        return check;
    case TcpServer:
        CheckPort(spec.LocalPort, "Listen Port error!", Field::LocalPort, check.LocalPort, check);
        return check;
    case Udp:
        if (CheckPort(spec.LocalPort, "Local Port error!", Field::LocalPort, check.LocalPort, check))
            CheckPort(spec.RemotePort, "Remote Port error!", Field::RemotePort, check.RemotePort, check);
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
