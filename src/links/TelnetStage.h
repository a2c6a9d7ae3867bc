#pragma once
#include "links/Stage.h"
#include "net/ComPortSession.h"

// Telnet with the com port control option (RFC 2217): data bytes escaped on the way
// down and unescaped on the way up, the session's negotiation and line control in
// between (ComPortSession does the protocol; this stage fits it into a connection).
//
// Data from above is held here, escaped, and let go a block at a time once the
// connection has sent what it owed, so that a peer's FLOWCONTROL-SUSPEND stops the
// data at once (at most one block is already on its way), while the session's own
// messages still go. A PURGE-DATA from a client drops what is held for it, or asks
// the connection to drop what it sent that waits for the application.
//
// News of the application's side (its settings and flushes for a client, whether it
// holds the port for a server) waits here as flags and goes once there is room,
// after what the wire already holds.
class TelnetStage : public Stage {
public:
    // The most data let go at a time: one chunk, as most data comes escaped.
    static constexpr size_t ReleaseBlock = 8192;

    TelnetStage(ComPortSession::Role role, ComPortSession::SettingsReader read, bool applicationPresent);

    void Open(Bytes& down) override;
    void FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down) override;
    void FromAbove(const uint8_t* data, size_t count, Bytes& down) override;
    // Escaping at most doubles the data.
    size_t DownBound(size_t count) const override { return 2 * count; }
    size_t DownSize(const uint8_t* data, size_t count) const override;
    void Service(Bytes& down) override;
    void Release(Bytes& down) override;
    size_t Holding() const override { return Held.size() - HeldSent; }
    bool TakeDropRequest() override;
    void PortChanged(const PortNews& news) override;
    const ReportedLine* FarLine() const override;
    std::string Note() const override;

    const ComPortSession& GetSession() const { return Session; }

private:
    const ComPortSession::Role Role;
    ComPortSession Session;
    Bytes Held; // escaped data, from HeldSent on
    size_t HeldSent = 0;
    bool SettingsDue = false;
    uint8_t PurgeDue = 0;
    bool Present;
    bool PresenceDue = false;
    bool TransmitEmpty = true; // as the session last heard it
    bool DropUp = false;
};
