#include "net/TelnetCodec.h"

#include <algorithm>

namespace {

void Send(std::vector<uint8_t>& out, uint8_t verb, uint8_t option)
{
    out.insert(out.end(), {TelnetCodec::IAC, verb, option});
}

} // namespace

TelnetCodec::TelnetCodec(std::initializer_list<uint8_t> local, std::initializer_list<uint8_t> remote)
{
    for (uint8_t option : local)
        Local[option].Agreed = true;
    for (uint8_t option : remote)
        Remote[option].Agreed = true;
}

bool TelnetCodec::Enabled(Side side, uint8_t option) const
{
    return (side == Side::Local ? Local : Remote)[option].Is == State::Yes;
}

void TelnetCodec::Request(Side side, uint8_t option, std::vector<uint8_t>& out)
{
    Option& o = At(side, option);
    switch (o.Is) {
    case State::No:
        o.Is = State::WantYes;
        Send(out, side == Side::Local ? WILL : DO, option);
        break;
    case State::WantNo:
        o.Opposite = true; // asked again once the peer has answered the way off
        break;
    case State::WantYes:
        o.Opposite = false;
        break;
    case State::Yes:
        break;
    }
}

// RFC 1143, section 7, for one side: `positive` is WILL (or DO) from the peer.
void TelnetCodec::Received(Side side, uint8_t option, bool positive, std::vector<uint8_t>& out,
                           Listener& listener)
{
    Option& o = At(side, option);
    const uint8_t yes = side == Side::Local ? WILL : DO;
    const uint8_t no = side == Side::Local ? WONT : DONT;
    const State before = o.Is;
    if (positive) {
        switch (o.Is) {
        case State::No:
            o.Is = o.Agreed ? State::Yes : State::No;
            Send(out, o.Agreed ? yes : no, option);
            break;
        case State::Yes:
            break;
        case State::WantNo:
            // A refusal answered by an agreement is the peer's error; with a request
            // queued the other way it is what was wanted.
            o.Is = o.Opposite ? State::Yes : State::No;
            o.Opposite = false;
            break;
        case State::WantYes:
            if (o.Opposite) {
                o.Is = State::WantNo;
                o.Opposite = false;
                Send(out, no, option);
            } else {
                o.Is = State::Yes;
            }
            break;
        }
    } else {
        switch (o.Is) {
        case State::No:
            break;
        case State::Yes:
            o.Is = State::No;
            Send(out, no, option);
            break;
        case State::WantNo:
            if (o.Opposite) {
                o.Is = State::WantYes;
                o.Opposite = false;
                Send(out, yes, option);
            } else {
                o.Is = State::No;
            }
            break;
        case State::WantYes:
            o.Is = State::No;
            o.Opposite = false;
            break;
        }
    }
    if ((before == State::Yes) != (o.Is == State::Yes))
        listener.OptionChanged(side, option, o.Is == State::Yes);
}

size_t TelnetCodec::EscapedSize(const uint8_t* data, size_t length)
{
    return length + static_cast<size_t>(std::count(data, data + length, IAC));
}

void TelnetCodec::Escape(const uint8_t* data, size_t length, std::vector<uint8_t>& out)
{
    out.reserve(out.size() + length); // a lower bound: counting first would read the data twice
    const uint8_t* end = data + length;
    while (data < end) {
        const uint8_t* iac = std::find(data, end, IAC);
        out.insert(out.end(), data, iac);
        if (iac == end)
            break;
        out.insert(out.end(), {IAC, IAC});
        data = iac + 1;
    }
}

void TelnetCodec::Subnegotiate(uint8_t option, const uint8_t* payload, size_t length, std::vector<uint8_t>& out)
{
    out.insert(out.end(), {IAC, SB, option});
    Escape(payload, length, out);
    out.insert(out.end(), {IAC, SE});
}

void TelnetCodec::PutData(const uint8_t* first, const uint8_t* last, std::vector<uint8_t>& data)
{
    if (Remote[Binary].Is == State::Yes) {
        data.insert(data.end(), first, last);
        AfterCr = false;
        return;
    }
    for (; first != last; ++first) {
        const bool stuffing = AfterCr && *first == 0;
        AfterCr = *first == '\r';
        if (!stuffing)
            data.push_back(*first);
    }
}

void TelnetCodec::AfterIac(uint8_t byte, std::vector<uint8_t>& data)
{
    if (byte == IAC) {
        PutData(&byte, &byte + 1, data);
        Where = Parse::Data;
    } else if (byte >= WILL) {
        Verb = byte;
        Where = Parse::Verb;
    } else if (byte == SB) {
        Where = Parse::SbOption;
    } else {
        Where = Parse::Data; // NOP, GA, DM, a stray SE, …: nothing for the data
    }
}

void TelnetCodec::Decode(const uint8_t* in, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                         Listener& listener)
{
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = in[i];
        switch (Where) {
        case Parse::Data: {
            // The common case: a run of data up to the next IAC in one step.
            const uint8_t* run = in + i;
            const uint8_t* iac = std::find(run, in + length, IAC);
            PutData(run, iac, data);
            i += static_cast<size_t>(iac - run);
            if (iac != in + length)
                Where = Parse::Iac;
            break;
        }
        case Parse::Iac:
            AfterIac(byte, data);
            break;
        case Parse::Verb:
            if (Verb == WILL || Verb == WONT)
                Received(Side::Remote, byte, Verb == WILL, out, listener);
            else
                Received(Side::Local, byte, Verb == DO, out, listener);
            Where = Parse::Data;
            break;
        case Parse::SbOption:
            SbOption = byte;
            SbPayload.clear();
            SbOverlong = false;
            Where = Parse::SbData;
            break;
        case Parse::SbData:
            if (byte == IAC) {
                Where = Parse::SbIac;
            } else if (SbPayload.size() < MaxSubnegotiation) {
                SbPayload.push_back(byte);
            } else {
                SbOverlong = true;
            }
            break;
        case Parse::SbIac:
            if (byte == IAC) {
                if (SbPayload.size() < MaxSubnegotiation)
                    SbPayload.push_back(IAC);
                else
                    SbOverlong = true;
                Where = Parse::SbData;
            } else if (byte == SE) {
                Where = Parse::Data;
                if (!SbOverlong)
                    listener.Subnegotiation(SbOption, SbPayload.data(), SbPayload.size());
                SbPayload.clear();
            } else {
                // A command inside a subnegotiation ends it unfinished; the command
                // itself is read as one outside.
                SbPayload.clear();
                AfterIac(byte, data);
            }
            break;
        }
    }
}
