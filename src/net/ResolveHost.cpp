#include "net/ResolveHost.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

// May wait for a name server: the caller holds the port manager's lock meanwhile.
// An empty text is not looked up (the system would answer with an error anyway,
// and the answer should not depend on the resolver's configuration).
bool ResolveHost(const char* host, char* out)
{
    if (!host || !out)
        return false;
    if (*host == '\0')
        return false;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;

    bool ok = false;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        ok = ::inet_ntop(AF_INET, &address->sin_addr, out, INET_ADDRSTRLEN) != nullptr;
        break;
    }
    ::freeaddrinfo(found);
    return ok;
}
