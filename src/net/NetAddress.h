#pragma once
#include <cstdint>
#include <string>
#include <sys/socket.h>

// A socket address as the system takes it: IPv4 or IPv6.
struct NetAddress {
    sockaddr_storage Storage {};
    socklen_t Length = 0;

    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    int Family() const { return Length ? Storage.ss_family : AF_UNSPEC; }
    // The port, in host order; the host's answer carries none.
    void SetPort(uint16_t port);
    uint16_t Port() const;
    // "127.0.0.1:5000", "[::1]:5000"; empty for no address.
    std::string ToText() const;
    // The address alone: "127.0.0.1", "::1"; empty for no address.
    std::string HostText() const;
    // An IPv4 peer of a dual-stack socket comes as ::ffff:a.b.c.d; this gives it back
    // as the IPv4 address it is. Any other address is returned as it is.
    NetAddress Unmapped() const;
    // An IPv4 address as a dual-stack IPv6 socket takes it (::ffff:a.b.c.d); any other
    // address as it is.
    NetAddress Mapped() const;
    // The IPv6 wildcard "::", which a dual-stack socket listens on for both families.
    bool IsAny6() const;
    // The wildcard address (every interface) of `family`, AF_INET or AF_INET6.
    static NetAddress Any(int family, uint16_t port = 0);

    // A numeric host text (dotted IPv4 in the forms the system's own lookup accepts,
    // or IPv6, bare or in brackets: "::1", "[::1]") turned into an address without
    // asking any name service. False for a name, an empty text or null.
    static bool FromNumeric(const char* host, NetAddress& out);
};

// The host text as the name service takes it: an IPv6 address in brackets, "[::1]",
// without them; anything else unchanged.
std::string BareHost(const std::string& host);

// "host:port" for the window: an IPv6 address in brackets ("[::1]:5000"), a name or
// an IPv4 address as it is ("127.0.0.1:5000").
std::string HostPortText(const std::string& host, uint16_t port);
