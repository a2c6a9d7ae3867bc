#pragma once
#include <cstdint>
#include <string>
#include <sys/socket.h>

// A socket address as the system takes it. The storage holds any family; the
// console's sockets are IPv4, so only AF_INET addresses are made today.
struct NetAddress {
    sockaddr_storage Storage {};
    socklen_t Length = 0;

    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    // The remote port, in host order; the host's answer carries none.
    void SetPort(uint16_t port);
    // "127.0.0.1:5000", "[::1]:5000"; empty for no address.
    std::string ToText() const;

    // A numeric host text (dotted IPv4, in the forms the system's own lookup
    // accepts) turned into an address without asking any name service. False for
    // a name, an empty text or null.
    static bool FromNumeric(const char* host, NetAddress& out);
};
