#include "net/ComPortSession.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

// The option's commands as a client sends them; a server's are these plus 100.
enum : uint8_t {
    Signature = 0, SetBaudrate = 1, SetDatasize = 2, SetParity = 3, SetStopsize = 4, SetControl = 5,
    NotifyLinestate = 6, NotifyModemstate = 7, FlowSuspend = 8, FlowResume = 9, SetLinestateMask = 10,
    SetModemstateMask = 11, PurgeData = 12,
};
constexpr uint8_t ServerOffset = 100;

// SET-CONTROL values. 1 to 3 set the flow control of both directions or the outbound
// one, as do 17 (DCD) and 19 (DSR); 14 to 16 and 18 (DTR) set the inbound one.
enum : uint8_t {
    FlowRequest = 0, FlowNone = 1, FlowXonXoff = 2, FlowHardware = 3, BreakRequest = 4, BreakOn = 5,
    BreakOff = 6, DtrRequest = 7, DtrOn = 8, DtrOff = 9, RtsRequest = 10, RtsOn = 11, RtsOff = 12,
    InboundRequest = 13, InboundNone = 14, InboundXonXoff = 15, InboundHardware = 16, FlowDcd = 17,
    InboundDtr = 18, FlowDsr = 19,
};

const char SignatureText[] = "Quillon Console";

uint32_t BigEndian32(const uint8_t* value)
{
    return (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) | (uint32_t(value[2]) << 8) | value[3];
}

bool OutboundFlow(uint8_t value)
{
    return (value >= FlowNone && value <= FlowHardware) || value == FlowDcd || value == FlowDsr;
}

bool InboundFlow(uint8_t value)
{
    return (value >= InboundNone && value <= InboundHardware) || value == InboundDtr;
}

// The caller's buffer for the answers of one call.
class Sending {
public:
    Sending(std::vector<uint8_t>*& slot, std::vector<uint8_t>& out) : Slot(slot) { Slot = &out; }
    ~Sending() { Slot = nullptr; }
    Sending(const Sending&) = delete;
    Sending& operator=(const Sending&) = delete;

private:
    std::vector<uint8_t>*& Slot;
};

} // namespace

ComPortSession::ComPortSession(Role role, SettingsReader read)
    : Side(role), Read(std::move(read)),
      Codec(role == Role::Client
                ? TelnetCodec({TelnetCodec::Binary, TelnetCodec::SuppressGoAhead, Option},
                              {TelnetCodec::Binary, TelnetCodec::SuppressGoAhead})
                : TelnetCodec({TelnetCodec::Binary, TelnetCodec::SuppressGoAhead},
                              {TelnetCodec::Binary, TelnetCodec::SuppressGoAhead, Option}))
{
}

bool ComPortSession::LineControl() const
{
    return Side == Role::Client ? Codec.Enabled(TelnetCodec::Side::Local, Option) : ClientControls;
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
    Sending sending(Out, out);
    Codec.Decode(in, length, data, out, *this);
}

void ComPortSession::SettingsChanged(std::vector<uint8_t>& out)
{
    if (Side != Role::Client || !LineControl())
        return;
    Sending sending(Out, out);
    SendSettings(!SentSettings);
}

void ComPortSession::Purge(uint8_t which, std::vector<uint8_t>& out)
{
    if (Side != Role::Client || !LineControl() || which < PurgeReceive || which > PurgeBoth)
        return;
    Sending sending(Out, out);
    Command(PurgeData, which);
}

void ComPortSession::SetApplicationPresent(bool present, std::vector<uint8_t>& out)
{
    const uint8_t state = present ? ModemCts | ModemDsr | ModemCd : 0;
    // The delta bits sit four places below the lines they belong to; RI never changes.
    const auto deltas = static_cast<uint8_t>((state ^ ModemState) >> 4);
    ModemState = state;
    if (Side != Role::Server || !deltas || !LineControl())
        return;
    Sending sending(Out, out);
    if (const uint8_t masked = (state | deltas) & ModemStateMask)
        Command(NotifyModemstate, masked);
}

void ComPortSession::SetTransmitEmpty(bool empty, std::vector<uint8_t>& out)
{
    const uint8_t state = empty ? LineShiftEmpty | LineHoldingEmpty : 0;
    if (state == LineState)
        return;
    LineState = state;
    if (Side != Role::Server || !LineControl())
        return;
    Sending sending(Out, out);
    if (const uint8_t masked = state & LineStateMask)
        Command(NotifyLinestate, masked);
}

uint8_t ComPortSession::TakePurgeRequest()
{
    return std::exchange(PurgeRequested, uint8_t(0));
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

void ComPortSession::SendBaud(uint32_t baud)
{
    const uint8_t value[4] = {uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)};
    Command(SetBaudrate, value, sizeof value);
}

// Client. A rate of 0 is the application hanging up: DTR goes off, and on again
// with the next real rate. With `all`, DTR goes out as the rate has it.
bool ComPortSession::SendSettings(bool all)
{
    LineSettings now;
    if (!ReadSettings(now))
        return false;
    const bool hungUp = now.Baud == 0, wasHungUp = SentSettings && Sent.Baud == 0;
    if (!hungUp && (all || now.Baud != Sent.Baud))
        SendBaud(now.Baud);
    if (all || now.DataBits != Sent.DataBits)
        Command(SetDatasize, now.DataBits);
    if (all || now.ParityBit != Sent.ParityBit)
        Command(SetParity, static_cast<uint8_t>(now.ParityBit));
    if (all || now.Stop != Sent.Stop)
        Command(SetStopsize, static_cast<uint8_t>(now.Stop));
    if (all || now.FlowControl != Sent.FlowControl)
        Command(SetControl, static_cast<uint8_t>(now.FlowControl));
    if (all || hungUp != wasHungUp)
        Command(SetControl, hungUp ? DtrOff : DtrOn);
    Sent = now;
    SentSettings = true;
    return true;
}

void ComPortSession::OptionChanged(TelnetCodec::Side side, uint8_t option, bool enabled)
{
    if (option != Option)
        return;
    if (Side == Role::Server) {
        if (side != TelnetCodec::Side::Remote)
            return;
        if (enabled)
            ClientTakesControl();
        else
            ClientControls = false;
        return;
    }
    if (side != TelnetCodec::Side::Local)
        return;
    Line.Agreed = enabled;
    SentSettings = false;
    if (!enabled)
        return;
    if (!SendSettings(true))
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
    if (Side == Role::Server)
        ClientTakesControl();
    const auto command = static_cast<uint8_t>(fromServer ? payload[0] - ServerOffset : payload[0]);
    if (command == FlowSuspend || command == FlowResume)
        PeerSuspended = command == FlowSuspend;
    else if (fromServer)
        ClientReport(command, payload + 1, length - 1);
    else
        ServerRequest(command, payload + 1, length - 1);
}

// pyserial's WILL may never come: when the server's DO reaches it before it sent its
// own offers, it takes the DO as the agreement and leaves the WILL out. So a client's
// first request counts as its taking the option too.
void ComPortSession::ClientTakesControl()
{
    if (ClientControls)
        return;
    ClientControls = true;
    // The modem lines as they are now, whatever the mask: a client has no other way
    // to learn them until they change.
    Command(NotifyModemstate, ModemState);
}

LineSettings ComPortSession::CurrentLine() const
{
    LineSettings line;
    ReadSettings(line); // the defaults where the port's cannot be read
    const LineSettings& asked = Asked.Settings;
    if (Asked.Set & AskedLine::Baud)
        line.Baud = asked.Baud;
    if (Asked.Set & AskedLine::DataSize)
        line.DataBits = asked.DataBits;
    if (Asked.Set & AskedLine::Parity)
        line.ParityBit = asked.ParityBit;
    if (Asked.Set & AskedLine::StopSize)
        line.Stop = asked.Stop;
    if (Asked.Set & AskedLine::Flow)
        line.FlowControl = asked.FlowControl;
    return line;
}

// Each valid setting is taken; every request of one, valid or not, is answered with
// the value then current.
void ComPortSession::ServerRequest(uint8_t command, const uint8_t* value, size_t length)
{
    switch (command) {
    case Signature:
        if (length == 0)
            Command(Signature, reinterpret_cast<const uint8_t*>(SignatureText), sizeof SignatureText - 1);
        return;
    case NotifyModemstate: // a poll, as pyserial sends it, answered whatever the mask
        Command(NotifyModemstate, ModemState);
        return;
    case NotifyLinestate:
        Command(NotifyLinestate, LineState);
        return;
    default:
        break;
    }
    if (length < (command == SetBaudrate ? 4u : 1u))
        return;
    const uint8_t first = value[0];
    LineSettings& asked = Asked.Settings;
    switch (command) {
    case SetBaudrate:
        if (const uint32_t baud = BigEndian32(value)) {
            asked.Baud = baud;
            Asked.Set |= AskedLine::Baud;
        }
        SendBaud(CurrentLine().Baud);
        break;
    case SetDatasize:
        if (first >= 5 && first <= 8) {
            asked.DataBits = first;
            Asked.Set |= AskedLine::DataSize;
        }
        Command(SetDatasize, CurrentLine().DataBits);
        break;
    case SetParity:
        if (first >= 1 && first <= 5) {
            asked.ParityBit = static_cast<LineSettings::Parity>(first);
            Asked.Set |= AskedLine::Parity;
        }
        Command(SetParity, static_cast<uint8_t>(CurrentLine().ParityBit));
        break;
    case SetStopsize:
        if (first >= 1 && first <= 3) {
            asked.Stop = static_cast<LineSettings::StopBits>(first);
            Asked.Set |= AskedLine::StopSize;
        }
        Command(SetStopsize, static_cast<uint8_t>(CurrentLine().Stop));
        break;
    case SetControl:
        ServerControl(first);
        break;
    case SetLinestateMask:
        Command(SetLinestateMask, LineStateMask = first);
        break;
    case SetModemstateMask:
        Command(SetModemstateMask, ModemStateMask = first);
        break;
    case PurgeData:
        if (first >= PurgeReceive && first <= PurgeBoth) {
            PurgeRequested |= first;
            Command(PurgeData, first);
        }
        break;
    default:
        break;
    }
}

// A value this end does not know (20 and up) is not answered: there is no setting
// to answer it with.
void ComPortSession::ServerControl(uint8_t value)
{
    auto keep = [this, value](uint8_t& slot, uint8_t request, uint8_t initial) {
        if (value != request)
            slot = value;
        Command(SetControl, slot ? slot : initial);
    };
    if (value == FlowRequest || OutboundFlow(value)) {
        if (value != FlowRequest) {
            Asked.Settings.FlowControl = static_cast<LineSettings::Flow>(value);
            Asked.Set |= AskedLine::Flow;
        }
        Command(SetControl, static_cast<uint8_t>(CurrentLine().FlowControl));
    } else if (value == InboundRequest || InboundFlow(value)) {
        // Unless the client set it, the inbound flow control is the one that
        // settings 1 to 3 give both directions.
        const LineSettings::Flow both = CurrentLine().FlowControl;
        const uint8_t inbound = both == LineSettings::Flow::Hardware ? InboundHardware
                                : both == LineSettings::Flow::XonXoff ? InboundXonXoff
                                                                      : InboundNone;
        keep(Asked.InboundFlow, InboundRequest, inbound);
    } else if (value >= BreakRequest && value <= BreakOff) {
        keep(Asked.Break, BreakRequest, BreakOff);
    } else if (value >= DtrRequest && value <= DtrOff) {
        keep(Asked.Dtr, DtrRequest, DtrOn);
    } else if (value >= RtsRequest && value <= RtsOff) {
        keep(Asked.Rts, RtsRequest, RtsOn);
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
        if (OutboundFlow(first))
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

std::string ComPortSession::AskedText(const AskedLine& line)
{
    auto name = [](uint8_t code, uint8_t low, std::initializer_list<const char*> names) -> std::string {
        return code >= low && code < low + names.size() ? names.begin()[code - low] : "?";
    };
    auto set = [&line](uint8_t which) { return (line.Set & which) != 0; };
    const LineSettings& s = line.Settings;
    std::vector<std::string> pieces;
    std::string speed = set(AskedLine::Baud) ? std::to_string(s.Baud) : "";
    if (set(AskedLine::DataSize | AskedLine::Parity | AskedLine::StopSize)) {
        speed += speed.empty() ? "" : " ";
        speed += set(AskedLine::DataSize) ? std::to_string(s.DataBits) : "?";
        speed += set(AskedLine::Parity) ? name(uint8_t(s.ParityBit), 1, {"N", "O", "E", "M", "S"}) : "?";
        speed += set(AskedLine::StopSize) ? name(uint8_t(s.Stop), 1, {"1", "2", "1.5"}) : "?";
    }
    if (!speed.empty())
        pieces.push_back(speed);
    if (set(AskedLine::Flow)) {
        const auto flow = static_cast<uint8_t>(s.FlowControl);
        pieces.push_back("flow " + (flow == FlowDcd   ? std::string("DCD")
                                    : flow == FlowDsr ? std::string("DSR")
                                                      : name(flow, FlowNone, {"none", "XON/XOFF", "hardware"})));
    }
    if (line.InboundFlow)
        pieces.push_back("inbound flow " + (line.InboundFlow == InboundDtr
                                                ? std::string("DTR")
                                                : name(line.InboundFlow, InboundNone, {"none", "XON/XOFF", "hardware"})));
    if (line.Dtr)
        pieces.push_back(line.Dtr == DtrOn ? "DTR on" : "DTR off");
    if (line.Rts)
        pieces.push_back(line.Rts == RtsOn ? "RTS on" : "RTS off");
    if (line.Break == BreakOn)
        pieces.push_back("break on");
    std::string text;
    for (const std::string& piece : pieces)
        text += (text.empty() ? "asks " : ", ") + piece;
    return text;
}
