// Only the kernel's own terminal structures here: <asm/termbits.h> (termios2, with
// the baud rate as a number) cannot share a file with the C library's <termios.h>.
#include "platform/pty/LineTermios.h"

#include <asm/termbits.h>
#include <cstddef>
#include <cstdint>
#include <sys/ioctl.h>

namespace {

struct Rate {
    unsigned Code;
    uint32_t Baud;
};

// The standard speeds; anything else comes with BOTHER and its number.
constexpr Rate Rates[] = {
    {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300}, {B600, 600},
    {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
    {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

uint32_t BaudOf(const termios2& tio)
{
    const unsigned code = tio.c_cflag & CBAUD;
    if (code == BOTHER)
        return tio.c_ospeed;
    for (const Rate& rate : Rates)
        if (rate.Code == code)
            return rate.Baud;
    return 0; // B0: hang up
}

} // namespace

bool ReadLineSettings(int master, LineSettings& out)
{
    termios2 tio {};
    if (::ioctl(master, TCGETS2, &tio) != 0)
        return false;
    out.Baud = BaudOf(tio);
    switch (tio.c_cflag & CSIZE) {
    case CS5: out.DataBits = 5; break;
    case CS6: out.DataBits = 6; break;
    case CS7: out.DataBits = 7; break;
    default: out.DataBits = 8; break;
    }
    using P = LineSettings::Parity;
    if (!(tio.c_cflag & PARENB))
        out.ParityBit = P::None;
    else if (tio.c_cflag & CMSPAR)
        out.ParityBit = (tio.c_cflag & PARODD) ? P::Mark : P::Space;
    else
        out.ParityBit = (tio.c_cflag & PARODD) ? P::Odd : P::Even;
    out.Stop = (tio.c_cflag & CSTOPB) ? LineSettings::StopBits::Two : LineSettings::StopBits::One;
    if (tio.c_cflag & CRTSCTS)
        out.FlowControl = LineSettings::Flow::Hardware;
    else if (tio.c_iflag & (IXON | IXOFF))
        out.FlowControl = LineSettings::Flow::XonXoff;
    else
        out.FlowControl = LineSettings::Flow::None;
    return true;
}
