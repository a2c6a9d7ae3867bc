#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "links/Origin.h"
#include "platform/base/LineSettings.h"

class CCriticalSection;
class CNetObject;
class HostResolver;

// What a link needs of the port it serves. The port object implements it. Every call
// is made with the manager lock held, from the pump thread or from the window's
// operations on the link.
class PortSide {
public:
    // Data from a link's peer for the application, in the order it arrived.
    virtual void FromNet(const uint8_t* data, size_t count, const OriginRef& from) = 0;
    // Drops what the peer `source` (Origin::Source) sent that still waits for the
    // application; what the application already has is not recalled.
    virtual void DropFromNet(uint64_t source) = 0;
    // Whether an application holds the port now.
    virtual bool ApplicationPresent() const = 0;
    // So much waits for the application that TCP peers are not read meanwhile: they
    // wait under TCP's own flow control instead of the console queueing without bound.
    virtual bool FromNetFull() const = 0;
    // Bytes waiting for the application.
    virtual size_t FromNetWaiting() const = 0;
    // A datagram was dropped whole for want of room.
    virtual void DatagramDropped() = 0;
    // A link connected, or accepted a client, in this step: a chunk held back for want
    // of a peer may go in the next one at once. Also when a server link let go of a
    // client: a chunk that client held back may go.
    virtual void PeerCameUp() = 0;
    // Looks host names up off the pump and window threads; null: numeric hosts only.
    virtual HostResolver* Resolver() const = 0;
    // The application's line settings, for the links that carry line control.
    virtual bool ReadLineSettings(LineSettings& settings) = 0;
    // The manager lock, for the "lock held" checks.
    virtual CCriticalSection* Lock() const = 0;
    // The port's name in the event log: "COM3".
    virtual std::string Name() const = 0;
    // Where `link` stands among the port's links, from 1, as status numbers them; a
    // link being made that is not in the list yet: the place it will take.
    virtual size_t LinkPosition(const CNetObject& link) const = 0;

protected:
    ~PortSide() = default;
};
