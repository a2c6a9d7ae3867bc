#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "net/ReportedLine.h"
#include "net/TelnetCodec.h"
#include "platform/base/LineSettings.h"

// One connection of a link with line control: Telnet with the com port control
// option (RFC 2217), option 44. Both ends negotiate BINARY and SUPPRESS-GO-AHEAD
// both ways, and the option itself; everything else is refused.
//
// As a client (a TCP client link to a device server) the console offers the option
// and, once the server takes it, sends the application's line settings (baud rate,
// data size, parity, stop size, flow control) and switches DTR and RTS on; later
// changes and flushes of the application go out as they happen. The server's
// answers and notifications are kept (Reported).
//
// As a server (the clients of a TCP server link) the console asks for the option
// and answers every setting with the value in use: the port's own, read from its
// application's settings, which a remote client does not change. Modem lines and
// the break state, which a port does not have, are answered as last set.
//
// Pure: no sockets. What goes to the peer is appended to the caller's buffer.
// Not thread-safe; the owner's lock serialises every call.
class ComPortSession : private TelnetCodec::Listener {
public:
    enum class Role { Client, Server };
    static constexpr uint8_t Option = 44;
    // PURGE-DATA: the receive buffer (bytes on their way to the application), the
    // transmit buffer (bytes from it), both.
    enum : uint8_t { PurgeReceive = 1, PurgeTransmit = 2, PurgeBoth = 3 };

    // Reads the line settings of the port's application; false when they cannot be
    // read. Called inside the session's own calls.
    using SettingsReader = std::function<bool(LineSettings&)>;

    ComPortSession(Role role, SettingsReader read);

    // The offers this end makes when the connection opens.
    void Start(std::vector<uint8_t>& out);
    // Data bytes in wire form.
    static void EncodeData(const uint8_t* data, size_t length, std::vector<uint8_t>& out)
    {
        TelnetCodec::Escape(data, length, out);
    }
    static size_t EncodedSize(const uint8_t* data, size_t length) { return TelnetCodec::EscapedSize(data, length); }
    // Bytes from the peer: data bytes appended to `data`, answers to `out`.
    void Receive(const uint8_t* in, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& out);

    // Client: the application changed its settings; those that differ from what was
    // last sent go out, once the server took the option.
    void SettingsChanged(std::vector<uint8_t>& out);
    // Client: the application dropped buffered bytes (PurgeReceive, PurgeTransmit or both).
    void Purge(uint8_t which, std::vector<uint8_t>& out);

    // The option is agreed for this connection.
    bool LineControl() const;
    // The peer asked this end to stop sending data (FLOWCONTROL-SUSPEND) and has not
    // asked it to go on yet.
    bool Suspended() const { return PeerSuspended; }
    // Client: what the server reported.
    const ReportedLine& Reported() const { return Line; }

private:
    void OptionChanged(TelnetCodec::Side side, uint8_t option, bool enabled) override;
    void Subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override;
    void ServerRequest(uint8_t command, const uint8_t* value, size_t length);
    void ClientReport(uint8_t command, const uint8_t* value, size_t length);
    void SendSettings(bool all);
    void Command(uint8_t command, const uint8_t* value, size_t length);
    void Command(uint8_t command, uint8_t value) { Command(command, &value, 1); }
    bool ReadSettings(LineSettings& settings) const { return Read && Read(settings); }

    const Role Side;
    const SettingsReader Read;
    TelnetCodec Codec;
    std::vector<uint8_t>* Out = nullptr; // the caller's buffer during a call
    bool PeerSuspended = false;
    // Client: what was last sent, to send only changes.
    bool SentSettings = false;
    LineSettings Sent;
    // Server: what the client last set of what a port has no use for.
    uint8_t Break = 6, Dtr = 8, Rts = 11, LineStateMask = 0, ModemStateMask = 0;
    ReportedLine Line;
};
