#include "net/LocalAddress.h"

#include <cerrno>
#include <sys/socket.h>

#include "net/NetAddress.h"
#include "platform/base/UniqueFd.h"

std::string LocalAddressProblem(const std::string& text)
{
    NetAddress address;
    if (!NetAddress::FromNumeric(text.c_str(), address))
        return "\"" + text + "\" is not a numeric address (such as 127.0.0.1 or ::1).";
    // Port 0: the bind takes a free port, so a port in use does not matter here.
    UniqueFd probe(::socket(address.Family(), SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe)
        return errno == EAFNOSUPPORT ? "This machine has no IPv6." : text + " cannot be used.";
    if (::bind(probe.Get(), address.Get(), address.Length) != 0)
        return text + " is not an address of this machine.";
    return {};
}
