#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/ReportedLine.h"
#include "net/TelnetCodec.h"
#include "platform/base/LineSettings.h"

// One connection of a link with line control: Telnet with the com port control
// option (RFC 2217), option 44. Both ends negotiate BINARY and SUPPRESS-GO-AHEAD
// both ways. Of option 44 each end plays its own part and refuses the other's: a
// client sends the commands (WILL) and refuses to take them (DONT to a WILL); a
// server takes them (DO) and refuses to send them (WONT to a DO). Everything else is
// refused.
//
// As a client (a TCP client link to a device server) the console offers the option
// and, once the server takes it, sends the application's line settings (baud rate,
// data size, parity, stop size, flow control) and switches DTR and RTS on; later
// changes and flushes of the application go out as they happen. An application's
// hang-up (baud rate 0) goes out as DTR off, since a SET-BAUDRATE of 0 asks for the
// rate; the next real rate raises DTR again. The server's answers and
// notifications are kept (Reported).
//
// As a server (the clients of a TCP server link) the console asks for the option; a
// client that sends requests without agreeing to it is served all the same.
// A port has no physical line and its bytes pass unchanged whatever the settings, so
// every valid setting a client asks for is accepted, answered with the value taken,
// and kept as that client's end of the line (ClientLine), never applied to the
// application's terminal. A request for a value (0) is answered with the one last
// taken, or the port's own (the SettingsReader's) when the client set none; an
// invalid value is answered with the current one. The modem lines are those of a
// null-modem cable to the application: CTS, DSR and CD on while an application holds
// the port, RI off. They go to the client once the option is agreed, on each change
// (with the delta bits, as the client's mask lets them) and when it asks. The line
// state says only what the console knows: both transmit registers empty while nothing
// waits for the client. FLOWCONTROL-SUSPEND/RESUME and PURGE-DATA are requests the
// owner acts on (Suspended, TakePurgeRequest).
//
// Bounded against a hostile peer: the session keeps a fixed amount of state, every
// request is answered at most once and answers are never answered, so what Receive
// appends to `out` is bounded by what it was given (the most for one request: a
// client's settings, some 60 bytes, when a server takes the option).
//
// Pure: no sockets. What goes to the peer is appended to the caller's buffer.
// Not thread-safe; the owner's lock serialises every call.
class ComPortSession : private TelnetCodec::Listener {
public:
    enum class Role { Client, Server };
    static constexpr uint8_t Option = 44;
    // PURGE-DATA names the buffers of the server's port: its receive buffer holds what
    // came from the serial line and waits for the network peer; its transmit buffer
    // what came from the peer and waits for the line. For a client of the console:
    // PurgeReceive is what the application sent that waits for that client,
    // PurgeTransmit what that client sent that waits for the application. For the
    // console as a client: the application flushed its input (the far receive buffer
    // holds bytes on their way to it) or its output.
    enum : uint8_t { PurgeReceive = 1, PurgeTransmit = 2, PurgeBoth = 3 };
    // NOTIFY-MODEMSTATE bits.
    enum : uint8_t {
        ModemCd = 0x80, ModemRi = 0x40, ModemDsr = 0x20, ModemCts = 0x10,
        DeltaCd = 0x08, TrailingRi = 0x04, DeltaDsr = 0x02, DeltaCts = 0x01,
    };
    // NOTIFY-LINESTATE bits the console reports: the transmit shift register and the
    // transmit holding register are empty.
    enum : uint8_t { LineShiftEmpty = 0x40, LineHoldingEmpty = 0x20 };

    // Server: what a remote client asked of its end of the line. Shown, never applied.
    // A field of Settings holds the client's value only where its bit is in Set.
    // Codes as the option numbers them; 0 where the client never set it.
    struct AskedLine {
        enum : uint8_t { Baud = 1, DataSize = 2, Parity = 4, StopSize = 8, Flow = 16 };
        LineSettings Settings;
        uint8_t Set = 0;
        uint8_t InboundFlow = 0; // 14 none, 15 XON/XOFF, 16 hardware, 18 DTR
        uint8_t Dtr = 0;         // 8 on, 9 off
        uint8_t Rts = 0;         // 11 on, 12 off
        uint8_t Break = 0;       // 5 on, 6 off

        bool operator==(const AskedLine&) const = default;
    };

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

    // Server: whether an application holds the port. Call it before Start with the
    // state at connect, then on every change; a change goes to the client at once.
    // Ignored by a client.
    void SetApplicationPresent(bool present, std::vector<uint8_t>& out);
    // Server: whether nothing waits to go to the client. Data bytes only: the session's
    // own messages must not count, or each notification would call for the next. A
    // change goes to the client when its line state mask lets it (none does until the
    // client sets one). Starts true. Ignored by a client.
    void SetTransmitEmpty(bool empty, std::vector<uint8_t>& out);
    // Server: the PURGE-DATA buffers (PurgeReceive, PurgeTransmit bits) the client asked
    // to have dropped since the last call; each request was already acknowledged.
    uint8_t TakePurgeRequest();
    // Server: the client's end of the line as it set it.
    const AskedLine& ClientLine() const { return Asked; }
    // "asks 115200 8N1, flow hardware, DTR on, RTS on": what a client set, for the
    // figures ('?' for a piece of the frame it did not set); empty when it set nothing.
    static std::string AskedText(const AskedLine& line);

    // The option is agreed for this connection (a server: or the client sent requests).
    bool LineControl() const;
    // The peer asked this end to stop sending data (FLOWCONTROL-SUSPEND) and has not
    // asked it to go on yet. The session's own messages still go.
    bool Suspended() const { return PeerSuspended; }
    // Client: what the server reported.
    const ReportedLine& Reported() const { return Line; }

private:
    void OptionChanged(TelnetCodec::Side side, uint8_t option, bool enabled) override;
    void Subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override;
    void ServerRequest(uint8_t command, const uint8_t* value, size_t length);
    void ServerControl(uint8_t value);
    void ClientReport(uint8_t command, const uint8_t* value, size_t length);
    bool SendSettings(bool all);
    void SendBaud(uint32_t baud);
    void Command(uint8_t command, const uint8_t* value, size_t length);
    void Command(uint8_t command, uint8_t value) { Command(command, &value, 1); }
    bool ReadSettings(LineSettings& settings) const { return Read && Read(settings); }
    // Server: the line as the client sees it, its own settings over the port's.
    LineSettings CurrentLine() const;
    // Server: the client agreed to the option or sent its first request.
    void ClientTakesControl();

    const Role Side;
    const SettingsReader Read;
    TelnetCodec Codec;
    std::vector<uint8_t>* Out = nullptr; // the caller's buffer during a call
    bool PeerSuspended = false;
    // Client: what was last sent, to send only changes.
    bool SentSettings = false;
    LineSettings Sent;
    ReportedLine Line;
    // Server.
    bool ClientControls = false;
    AskedLine Asked;
    uint8_t ModemState = 0; // ModemCts | ModemDsr | ModemCd while an application holds the port
    uint8_t LineState = LineShiftEmpty | LineHoldingEmpty;
    uint8_t ModemStateMask = 0xFF, LineStateMask = 0; // as the option starts them
    uint8_t PurgeRequested = 0;
};
