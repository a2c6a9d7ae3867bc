#include "net/NetAddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

void NetAddress::SetPort(uint16_t port)
{
    if (Storage.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = htons(port);
    else if (Storage.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = htons(port);
}

uint16_t NetAddress::Port() const
{
    if (Storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&Storage)->sin_port);
    if (Storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_port);
    return 0;
}

std::string NetAddress::HostText() const
{
    char host[INET6_ADDRSTRLEN] = {};
    switch (Length ? Storage.ss_family : AF_UNSPEC) {
    case AF_INET:
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&Storage)->sin_addr, host, sizeof host);
        return host;
    case AF_INET6:
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_addr, host, sizeof host);
        return host;
    default:
        return std::string();
    }
}

std::string NetAddress::ToText() const
{
    const std::string host = HostText();
    return host.empty() ? host : HostPortText(host, Port());
}

NetAddress NetAddress::Unmapped() const
{
    if (Family() != AF_INET6)
        return *this;
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&Storage);
    if (!IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
        return *this;
    NetAddress out;
    auto* in = reinterpret_cast<sockaddr_in*>(&out.Storage);
    in->sin_family = AF_INET;
    in->sin_port = in6->sin6_port;
    std::memcpy(&in->sin_addr, in6->sin6_addr.s6_addr + 12, 4);
    out.Length = sizeof(sockaddr_in);
    return out;
}

NetAddress NetAddress::Mapped() const
{
    if (Family() != AF_INET)
        return *this;
    const auto* in = reinterpret_cast<const sockaddr_in*>(&Storage);
    NetAddress out;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out.Storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = in->sin_port;
    in6->sin6_addr.s6_addr[10] = 0xFF;
    in6->sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(in6->sin6_addr.s6_addr + 12, &in->sin_addr, 4);
    out.Length = sizeof(sockaddr_in6);
    return out;
}

bool NetAddress::IsAny6() const
{
    return Family() == AF_INET6
           && IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_addr);
}

NetAddress NetAddress::Any(int family, uint16_t port)
{
    NetAddress out;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&out.Storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        out.Length = sizeof(sockaddr_in6);
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&out.Storage);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_ANY);
        out.Length = sizeof(sockaddr_in);
    }
    out.SetPort(port);
    return out;
}

bool NetAddress::FromNumeric(const char* host, NetAddress& out)
{
    if (!host || !*host)
        return false;
    const std::string bare = BareHost(host);
    // AI_NUMERICHOST never consults a name service, and it takes exactly the
    // numeric forms a full lookup would, so a host means the same either way.
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(bare.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    bool ok = found->ai_addr && found->ai_addrlen <= sizeof out.Storage
              && (found->ai_family == AF_INET || found->ai_family == AF_INET6);
    if (ok) {
        out = NetAddress {};
        std::memcpy(&out.Storage, found->ai_addr, found->ai_addrlen);
        out.Length = found->ai_addrlen;
    }
    ::freeaddrinfo(found);
    return ok;
}

std::string BareHost(const std::string& host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

std::string HostPortText(const std::string& host, uint16_t port)
{
    // Only an IPv6 address has a colon; a bracketed one already carries its brackets.
    const bool bracket = !host.empty() && host.find(':') != std::string::npos && host.front() != '[';
    return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}
