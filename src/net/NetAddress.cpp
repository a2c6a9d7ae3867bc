#include "net/NetAddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

void NetAddress::SetPort(uint16_t port)
{
    if (Storage.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = htons(port);
}

std::string NetAddress::ToText() const
{
    char host[INET6_ADDRSTRLEN] = {};
    switch (Storage.ss_family) {
    case AF_INET: {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&Storage);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
    }
    case AF_INET6: {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&Storage);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
    }
    default:
        return std::string();
    }
}

bool NetAddress::FromNumeric(const char* host, NetAddress& out)
{
    if (!host || !*host)
        return false;
    // AI_NUMERICHOST never consults a name service, and it takes exactly the
    // numeric forms a full lookup would, so a host means the same either way.
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    bool ok = found->ai_addr && found->ai_addrlen <= sizeof out.Storage;
    if (ok) {
        out = NetAddress {};
        std::memcpy(&out.Storage, found->ai_addr, found->ai_addrlen);
        out.Length = found->ai_addrlen;
    }
    ::freeaddrinfo(found);
    return ok;
}
