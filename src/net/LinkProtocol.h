#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/ComPortSession.h"

// Line control on one connection of a link (a TCP client link's, or one client of a
// TCP server link): the session, and what the connection owes its peer in wire
// form, which the socket has not taken yet. Data chunks go in whole, once encoded
// (escaping makes them longer, so the port's account of what a link took stays in
// the application's bytes); the session's own messages go in between, in order.
//
// The buffer is bounded: a chunk goes in only while there is room for all of it
// (WireRoom), and the connection is not read while the buffer is over WireFull, so
// that neither the application nor a peer can make it grow for as long as the
// peer does not read. Changes of the application that come meanwhile wait as
// flags and go once there is room.
//
// Owned by the link or the accepted client; guarded by the manager lock.
struct LinkProtocol {
    static constexpr size_t WireRoom = 32 * 1024; // more than two chunks encoded
    static constexpr size_t WireFull = 64 * 1024;

    LinkProtocol(ComPortSession::Role role, ComPortSession::SettingsReader read) : Session(role, std::move(read)) {}

    size_t Pending() const { return Wire.size() - Sent; }
    const uint8_t* Next() const { return Wire.data() + Sent; }
    // Whether `length` bytes of wire form fit now.
    bool Fits(size_t length) const { return Pending() + length <= WireRoom; }
    // The socket took `count` more bytes.
    void Took(size_t count)
    {
        Sent += count;
        if (Sent == Wire.size()) {
            Wire.clear();
            Sent = 0;
        } else if (Sent > WireRoom) {
            Wire.erase(Wire.begin(), Wire.begin() + static_cast<std::ptrdiff_t>(Sent));
            Sent = 0;
        }
    }

    ComPortSession Session;
    std::vector<uint8_t> Wire;
    size_t Sent = 0;
    // The application's changes not yet handed to the session for want of room.
    bool SettingsDue = false;
    uint8_t PurgeDue = 0; // ComPortSession::PurgeReceive / PurgeTransmit bits
};
