#pragma once
#include "links/Stage.h"
#include "net/ComPortSession.h"

// Telnet with the com port control option (RFC 2217): data bytes escaped on the way
// down and unescaped on the way up, the session's negotiation and line control in
// between (ComPortSession does the protocol; this stage fits it into a connection).
//
// The application's changes that come while the connection has no room wait here
// as flags and go once there is room, after what the wire already holds.
class TelnetStage : public Stage {
public:
    TelnetStage(ComPortSession::Role role, ComPortSession::SettingsReader read);

    void Open(Bytes& down) override;
    void FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down) override;
    void FromAbove(const uint8_t* data, size_t count, Bytes& down) override;
    // Escaping at most doubles the data.
    size_t DownBound(size_t count) const override { return 2 * count; }
    size_t DownSize(const uint8_t* data, size_t count) const override;
    bool Accepting() const override { return !Session.Suspended(); }
    void Service(Bytes& down) override;
    void LineChanged(const LineNews& news) override;
    const ReportedLine* FarLine() const override { return &Session.Reported(); }

    const ComPortSession& GetSession() const { return Session; }

private:
    ComPortSession Session;
    bool SettingsDue = false;
    uint8_t PurgeDue = 0;
};
