#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Failure.h"

struct ReportedLine;

// What changed on the application's side of the port since the stages last heard:
// its line settings, the buffers it flushed (ComPortSession::PurgeReceive and
// PurgeTransmit bits), whether an application holds the port.
struct PortNews {
    bool SettingsChanged = false;
    uint8_t Purged = 0;
    std::optional<bool> ApplicationPresent;
};

// One layer of a connection between its socket (below) and the port (above): Telnet
// with line control, TLS. A stage only transforms bytes; it never touches the
// socket, and the data path never asks which stages a connection has.
//
// Toward the socket a stage appends to `down`; the connection hands that to the stage
// beneath it and, from the lowest stage, to the socket. A stage may hold data from
// above instead (a handshake under way, a peer that asked for a pause, or just until
// the connection has sent what it owes: Release), and says how much (Holding): the
// connection counts that against its bound.
//
// Owned by its connection; guarded by the manager lock.
class Stage {
public:
    using Bytes = std::vector<uint8_t>;

    virtual ~Stage() = default;

    // The connection is up: the stage's opening messages go to `down`.
    virtual void Open(Bytes& down) { (void)down; }
    // Bytes from below: data for the stage above goes to `up`, answers of the stage's
    // own to `down`.
    virtual void FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down) = 0;
    // Data from above, taken whole: its wire form goes to `down`.
    virtual void FromAbove(const uint8_t* data, size_t count, Bytes& down) = 0;
    // At most how many bytes `count` bytes from above become; cheap.
    virtual size_t DownBound(size_t count) const { return count; }
    // Exactly (or at most) how many bytes these `count` bytes become; may read them.
    virtual size_t DownSize(const uint8_t* data, size_t count) const
    {
        (void)data;
        return DownBound(count);
    }
    // Whether the stage takes data from above now (false: the peer asked for a
    // pause, a handshake is under way).
    virtual bool Accepting() const { return true; }
    // Sends what the stage has to say of its own accord (news that waited for room)
    // to `down`. Called while the connection has room.
    virtual void Service(Bytes& down) { (void)down; }
    // Everything beneath the stage has gone to the socket: held data may follow, as
    // much as the stage lets go now, to `down`.
    virtual void Release(Bytes& down) { (void)down; }
    // Bytes the stage holds on their way down.
    virtual size_t Holding() const { return 0; }
    // The peer asked to have dropped what it sent that still waits for the
    // application; asked once.
    virtual bool TakeDropRequest() { return false; }
    // A handshake under way (TLS), and the tick it began; the link closes a
    // connection whose handshake takes too long.
    virtual bool Opening(int32_t& since) const
    {
        (void)since;
        return false;
    }
    // Why the stage gave up on the connection (a failed handshake, a broken record);
    // empty while it serves. The link then closes the connection.
    virtual Failure Broken() const { return {}; }
    // The peer ended the session in order (TLS close_notify): the link closes the
    // connection as when the peer closes it.
    virtual bool Ended() const { return false; }
    // The connection is about to close: the stage's farewell goes to `down`.
    virtual void Closing(Bytes& down) { (void)down; }

    // News of the application's side; a stage that carries line control passes it on.
    virtual void PortChanged(const PortNews& news) { (void)news; }
    // What the far serial port reported, for a stage that carries line control.
    virtual const ReportedLine* FarLine() const { return nullptr; }
    // A word on the connection for the figures ("asks 115200 8N1"); empty: none.
    virtual std::string Note() const { return {}; }
};
