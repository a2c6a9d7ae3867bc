#pragma once
#include <cstdint>
#include <string>

// What the far serial port of a TCP client link with line control (RFC 2217) last
// reported: the server's answers to the settings the console sent, and its
// notifications. Codes as the option numbers them; 0 where nothing was reported.
struct ReportedLine {
    bool Agreed = false;      // the server took the option for this connection
    uint32_t Baud = 0;
    uint8_t DataSize = 0;     // 5 to 8
    uint8_t Parity = 0;       // 1 none, 2 odd, 3 even, 4 mark, 5 space
    uint8_t StopSize = 0;     // 1 one, 2 two, 3 one and a half
    uint8_t FlowControl = 0;  // 1 none, 2 XON/XOFF, 3 hardware
    uint8_t Dtr = 0;          // 8 on, 9 off
    uint8_t Rts = 0;          // 11 on, 12 off
    bool HaveLineState = false;
    uint8_t LineState = 0;    // NOTIFY-LINESTATE bits (data ready, overrun, parity, framing, break, …)
    bool HaveModemState = false;
    uint8_t ModemState = 0;   // NOTIFY-MODEMSTATE bits (CTS, DSR, RI, DCD and their changes)
    std::string Signature;    // the server's, when it sent one
};
