#pragma once
#include <cstdint>
#include <memory>
#include <string>

// Where bytes for the application came from: the link and the peer that sent them.
// Made once per connection (per sender for datagrams) and shared by every stretch of
// bytes from it that waits in the port's queue, so a link can drop what one of its
// peers sent (an RFC 2217 purge) and the traffic log and monitor can name the sender.
struct Origin {
    uint64_t Source = 0; // the connection, or the datagram link's sender; never reused
    std::string Link;    // "tcp-server 7000", "tcp-client 192.0.2.7:7000", "udp 7001"
    uint64_t LinkId = 0; // CNetObject::Id of the link
    std::string Peer;    // "127.0.0.1:50412"; empty when unknown

    // A new Source number. Any thread.
    static uint64_t NextSource();
};
using OriginRef = std::shared_ptr<const Origin>;

inline OriginRef MakeOrigin(std::string link, std::string peer, uint64_t linkId = 0)
{
    auto origin = std::make_shared<Origin>();
    origin->Source = Origin::NextSource();
    origin->Link = std::move(link);
    origin->LinkId = linkId;
    origin->Peer = std::move(peer);
    return origin;
}
