#include "net/ComPortSession.h"

#include <algorithm>
#include <cstring>

namespace {

// The option's commands as a client sends them; a server's are these plus 100.
enum : uint8_t {
    Signature = 0, SetBaudrate = 1, SetDatasize = 2, SetParity = 3, SetStopsize = 4, SetControl = 5,
    NotifyLinestate = 6, NotifyModemstate = 7, FlowSuspend = 8, FlowResume = 9, SetLinestateMask = 10,
    SetModemstateMask = 11, PurgeData = 12,
};
constexpr uint8_t ServerOffset = 100;

// SET-CONTROL values.
enum : uint8_t {
    FlowRequest = 0, FlowNone = 1, FlowHardware = 3, BreakRequest = 4, BreakOn = 5, BreakOff = 6,
    DtrRequest = 7, DtrOn = 8, DtrOff = 9, RtsRequest = 10, RtsOn = 11, RtsOff = 12,
    InboundRequest = 13, InboundNone = 14, InboundXonXoff = 15, InboundHardware = 16,
    FlowDcd = 17, FlowDsr = 19,
};

const char SignatureText[] = "Quillon Console";

uint32_t BigEndian32(const uint8_t* value)
{
    return (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) | (uint32_t(value[2]) << 8) | value[3];
}

} // namespace

ComPortSession::ComPortSession(Role role, SettingsReader read)
    : Side(role), Read(std::move(read)),
      Codec({TelnetCodec::Binary, TelnetCodec::SuppressGoAhead, Option},
            {TelnetCodec::Binary, TelnetCodec::SuppressGoAhead, Option})
{
}

bool ComPortSession::LineControl() const
{
    return Codec.Enabled(Side == Role::Client ? TelnetCodec::Side::Local : TelnetCodec::Side::Remote, Option);
}

void ComPortSession::Start(std::vector<uint8_t>& out)
{
    using S = TelnetCodec::Side;
    // A client offers to control the port (WILL); a server asks the client to (DO).
    Codec.Request(Side == Role::Client ? S::Local : S::Remote, Option, out);
    for (uint8_t option : {TelnetCodec::Binary, TelnetCodec::SuppressGoAhead}) {
        Codec.Request(S::Local, option, out);
        Codec.Request(S::Remote, option, out);
    }
}

void ComPortSession::Receive(const uint8_t* in, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& out)
{
    Out = &out;
    Codec.Decode(in, length, data, out, *this);
    Out = nullptr;
}

void ComPortSession::SettingsChanged(std::vector<uint8_t>& out)
{
    if (Side != Role::Client || !LineControl())
        return;
    Out = &out;
    SendSettings(!SentSettings);
    Out = nullptr;
}

void ComPortSession::Purge(uint8_t which, std::vector<uint8_t>& out)
{
    if (Side != Role::Client || !LineControl() || which < PurgeReceive || which > PurgeBoth)
        return;
    Out = &out;
    Command(PurgeData, which);
    Out = nullptr;
}

void ComPortSession::Command(uint8_t command, const uint8_t* value, size_t length)
{
    if (!Out)
        return;
    uint8_t payload[1 + sizeof SignatureText];
    payload[0] = static_cast<uint8_t>(Side == Role::Server ? command + ServerOffset : command);
    length = std::min(length, sizeof payload - 1);
    std::memcpy(payload + 1, value, length);
    TelnetCodec::Subnegotiate(Option, payload, length + 1, *Out);
}

void ComPortSession::SendSettings(bool all)
{
    LineSettings now;
    if (!ReadSettings(now))
        return;
    if (all || now.Baud != Sent.Baud) {
        const uint8_t baud[4] = {uint8_t(now.Baud >> 24), uint8_t(now.Baud >> 16), uint8_t(now.Baud >> 8),
                                 uint8_t(now.Baud)};
        Command(SetBaudrate, baud, sizeof baud);
    }
    if (all || now.DataBits != Sent.DataBits)
        Command(SetDatasize, now.DataBits);
    if (all || now.ParityBit != Sent.ParityBit)
        Command(SetParity, static_cast<uint8_t>(now.ParityBit));
    if (all || now.Stop != Sent.Stop)
        Command(SetStopsize, static_cast<uint8_t>(now.Stop));
    if (all || now.FlowControl != Sent.FlowControl)
        Command(SetControl, static_cast<uint8_t>(now.FlowControl));
    Sent = now;
    SentSettings = true;
}

void ComPortSession::OptionChanged(TelnetCodec::Side side, uint8_t option, bool enabled)
{
    if (option != Option || Side != Role::Client || side != TelnetCodec::Side::Local)
        return;
    Line.Agreed = enabled;
    SentSettings = false;
    if (!enabled)
        return;
    SendSettings(true);
    Command(SetControl, DtrOn);
    Command(SetControl, RtsOn);
}

void ComPortSession::Subnegotiation(uint8_t option, const uint8_t* payload, size_t length)
{
    if (option != Option || length == 0)
        return;
    const bool fromServer = payload[0] >= ServerOffset;
    if (fromServer != (Side == Role::Client))
        return; // a command of this end's own role
    const auto command = static_cast<uint8_t>(fromServer ? payload[0] - ServerOffset : payload[0]);
    if (command == FlowSuspend || command == FlowResume)
        PeerSuspended = command == FlowSuspend;
    else if (fromServer)
        ClientReport(command, payload + 1, length - 1);
    else
        ServerRequest(command, payload + 1, length - 1);
}

// Every SET is answered with the value in use, also a request (0) for it; what the
// port cannot read is answered as asked.
void ComPortSession::ServerRequest(uint8_t command, const uint8_t* value, size_t length)
{
    LineSettings now;
    const bool known = ReadSettings(now);
    const uint8_t first = length > 0 ? value[0] : 0;
    switch (command) {
    case Signature:
        if (length == 0)
            Command(Signature, reinterpret_cast<const uint8_t*>(SignatureText), sizeof SignatureText - 1);
        break;
    case SetBaudrate:
        if (length >= 4) {
            const uint32_t baud = known ? now.Baud : BigEndian32(value);
            const uint8_t answer[4] = {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)};
            Command(SetBaudrate, answer, sizeof answer);
        }
        break;
    case SetDatasize:
        if (length >= 1)
            Command(SetDatasize, known ? now.DataBits : first);
        break;
    case SetParity:
        if (length >= 1)
            Command(SetParity, known ? static_cast<uint8_t>(now.ParityBit) : first);
        break;
    case SetStopsize:
        if (length >= 1)
            Command(SetStopsize, known ? static_cast<uint8_t>(now.Stop) : first);
        break;
    case SetControl: {
        if (length < 1)
            break;
        const uint8_t flow = static_cast<uint8_t>(now.FlowControl);
        if (first <= FlowHardware || (first >= FlowDcd && first <= FlowDsr)) {
            Command(SetControl, known ? flow : first == FlowRequest ? uint8_t(FlowNone) : first);
        } else if (first <= BreakOff) {
            Break = first == BreakRequest ? Break : first;
            Command(SetControl, Break);
        } else if (first <= DtrOff) {
            Dtr = first == DtrRequest ? Dtr : first;
            Command(SetControl, Dtr);
        } else if (first <= RtsOff) {
            Rts = first == RtsRequest ? Rts : first;
            Command(SetControl, Rts);
        } else if (first <= InboundHardware) {
            const uint8_t inbound = flow == FlowHardware ? InboundHardware
                                    : flow == FlowNone   ? InboundNone
                                                         : InboundXonXoff;
            Command(SetControl, known ? inbound : first == InboundRequest ? uint8_t(InboundNone) : first);
        }
        break;
    }
    case SetLinestateMask:
        if (length >= 1)
            Command(SetLinestateMask, LineStateMask = first);
        break;
    case SetModemstateMask:
        if (length >= 1)
            Command(SetModemstateMask, ModemStateMask = first);
        break;
    case PurgeData:
        if (first >= PurgeReceive && first <= PurgeBoth)
            Command(PurgeData, first);
        break;
    default:
        break;
    }
}

void ComPortSession::ClientReport(uint8_t command, const uint8_t* value, size_t length)
{
    const uint8_t first = length > 0 ? value[0] : 0;
    switch (command) {
    case Signature:
        if (length == 0)
            Command(Signature, reinterpret_cast<const uint8_t*>(SignatureText), sizeof SignatureText - 1);
        else
            Line.Signature.assign(reinterpret_cast<const char*>(value), length);
        break;
    case SetBaudrate:
        if (length >= 4)
            Line.Baud = BigEndian32(value);
        break;
    case SetDatasize:
        Line.DataSize = first;
        break;
    case SetParity:
        Line.Parity = first;
        break;
    case SetStopsize:
        Line.StopSize = first;
        break;
    case SetControl:
        if ((first >= FlowNone && first <= FlowHardware) || (first >= FlowDcd && first <= FlowDsr))
            Line.FlowControl = first;
        else if (first == DtrOn || first == DtrOff)
            Line.Dtr = first;
        else if (first == RtsOn || first == RtsOff)
            Line.Rts = first;
        break;
    case NotifyLinestate:
        Line.HaveLineState = length > 0;
        Line.LineState = first;
        break;
    case NotifyModemstate:
        Line.HaveModemState = length > 0;
        Line.ModemState = first;
        break;
    default:
        break;
    }
}
