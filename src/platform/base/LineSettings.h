#pragma once
#include <cstdint>

// The settings of a serial line as an application sets them on a port, and as a
// remote serial port reports them. The numbers of the enumerations are the ones the
// Telnet com port control option (RFC 2217) sends.
struct LineSettings {
    enum class Parity : uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
    enum class StopBits : uint8_t { One = 1, Two = 2, OneAndHalf = 3 };
    // A port's own flow control is one of the first three; a remote client may also
    // ask for flow control by DCD or DSR.
    enum class Flow : uint8_t { None = 1, XonXoff = 2, Hardware = 3, Dcd = 17, Dsr = 19 };

    uint32_t Baud = 0; // bits per second
    uint8_t DataBits = 8; // 5 to 8
    Parity ParityBit = Parity::None;
    StopBits Stop = StopBits::One;
    Flow FlowControl = Flow::None;

    bool operator==(const LineSettings&) const = default;
};
