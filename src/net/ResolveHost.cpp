#include "net/ResolveHost.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <string>

// An empty text is not looked up: the system would answer with an error anyway,
// and the answer should not depend on the resolver's configuration.
std::vector<NetAddress> LookUpHost(const char* host)
{
    std::vector<NetAddress> addresses;
    if (!host || *host == '\0')
        return addresses;

    const std::string bare = BareHost(host);
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    if (::getaddrinfo(bare.c_str(), nullptr, &hints, &found) != 0 || !found)
        return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) || !entry->ai_addr
            || entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        NetAddress address;
        std::memcpy(&address.Storage, entry->ai_addr, entry->ai_addrlen);
        address.Length = entry->ai_addrlen;
        addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    std::stable_partition(addresses.begin(), addresses.end(),
                          [](const NetAddress& a) { return a.Family() == AF_INET; });
    return addresses;
}

bool ResolveHost(const char* host, char* out)
{
    if (!host || !out)
        return false;
    for (const NetAddress& address : LookUpHost(host)) {
        if (address.Family() != AF_INET)
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address.Storage);
        return ::inet_ntop(AF_INET, &in->sin_addr, out, INET_ADDRSTRLEN) != nullptr;
    }
    return false;
}
