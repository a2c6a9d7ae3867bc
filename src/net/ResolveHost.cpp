#include "net/ResolveHost.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

// An empty text is not looked up: the system would answer with an error anyway,
// and the answer should not depend on the resolver's configuration.
std::vector<NetAddress> LookUpHost(const char* host)
{
    std::vector<NetAddress> addresses;
    if (!host || *host == '\0')
        return addresses;

    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr || entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        NetAddress address;
        std::memcpy(&address.Storage, entry->ai_addr, entry->ai_addrlen);
        address.Length = entry->ai_addrlen;
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}

bool ResolveHost(const char* host, char* out)
{
    if (!host || !out)
        return false;
    std::vector<NetAddress> addresses = LookUpHost(host);
    if (addresses.empty())
        return false;
    const auto* address = reinterpret_cast<const sockaddr_in*>(&addresses.front().Storage);
    return ::inet_ntop(AF_INET, &address->sin_addr, out, INET_ADDRSTRLEN) != nullptr;
}
