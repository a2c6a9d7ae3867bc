#include "console/LinkSpec.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/base/UniqueFd.h"
#include "platform/config/WholeNumber.h"

namespace {

const char* const AddNetFailed = "Add net failed!";

// One port text; false (and `check` refused) when it is not a number from 1 to 65535.
bool CheckPort(const std::string& text, const char* message, const char* what,
               LinkCheck::Field field, uint16_t& port, LinkCheck& check)
{
    int32_t value = 0;
    if (ParseWholeNumber(text, value) && value >= 1 && value <= 65535) {
        port = static_cast<uint16_t>(value);
        return true;
    }
    check.Result = ConsoleResult::Refused(
        message, std::string(what) + " must be a whole number from 1 to 65535.");
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
        CheckPort(spec.RemotePort, "Remote Port error!", "The remote port", Field::RemotePort,
                  check.RemotePort, check);
        return check;
    case TcpServer:
        CheckPort(spec.LocalPort, "Listen Port error!", "The listen port", Field::LocalPort,
                  check.LocalPort, check);
        return check;
    case Udp:
        if (CheckPort(spec.LocalPort, "Local Port error!", "The local port", Field::LocalPort,
                      check.LocalPort, check))
            CheckPort(spec.RemotePort, "Remote Port error!", "The remote port", Field::RemotePort,
                      check.RemotePort, check);
        return check;
    }
    check.Result = ConsoleResult::Refused(AddNetFailed, "Unknown link kind.");
    return check;
}

std::string BindFailureReason(int32_t kind, uint16_t port)
{
    const bool stream = kind == TcpServer;
    UniqueFd socket(::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0));
    if (!socket)
        return std::string("No socket: ") + std::strerror(errno) + ".";
    if (stream) {
        // As the server link does: connections of an earlier listener lingering in
        // TIME_WAIT do not hold the port.
        int reuse = 1;
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && (!stream || ::listen(socket.Get(), 1) == 0))
        return {};
    const int error = errno;
    if (error == EADDRINUSE)
        return "Port " + std::to_string(port) + " is already in use.";
    return "Port " + std::to_string(port) + ": " + std::strerror(error) + ".";
}
