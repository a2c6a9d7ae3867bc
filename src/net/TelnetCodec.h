#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

// Telnet (RFC 854, 855) on one connection: data bytes to the wire form and back,
// and the negotiation of options. Knows nothing of sockets: what it decodes and the
// answers it owes the peer are appended to the caller's buffers.
//
// Out: every 0xFF data byte is doubled. In: commands are taken out of the stream,
// also when a read ends in the middle of one; a doubled 0xFF is one data byte.
// Unless the peer sends BINARY, its data is NVT text, where a CR alone goes as CR NUL:
// the NUL after a CR is no data and is dropped.
// Options are negotiated by the "Q method" (RFC 1143): each side of each option
// has its own state, every request is answered at most once, and two ends can
// never make each other loop. An option this end does not agree to is refused
// (DONT to a WILL, WONT to a DO); a refusal of what it never had is not answered.
//
// Not thread-safe; the owner's lock serialises every call.
class TelnetCodec {
public:
    enum : uint8_t {
        SE = 240, NOP = 241, DM = 242, GA = 249, SB = 250,
        WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255,
    };
    enum : uint8_t { Binary = 0, Echo = 1, SuppressGoAhead = 3 };

    // Local: what this end does (WILL/WONT); Remote: what the peer does (DO/DONT).
    enum class Side { Local, Remote };

    // What the stream carries besides data; called inside Decode.
    class Listener {
    public:
        // A side of an option was switched on or off.
        virtual void OptionChanged(Side side, uint8_t option, bool enabled) = 0;
        // A whole subnegotiation (IAC SB option ... IAC SE), its payload unescaped.
        virtual void Subnegotiation(uint8_t option, const uint8_t* payload, size_t length) = 0;

    protected:
        ~Listener() = default;
    };

    // Subnegotiations longer than this are dropped whole: a peer must not make the
    // console hold an endless one.
    static constexpr size_t MaxSubnegotiation = 256;

    // The options this end agrees to on each side when the peer asks for them.
    TelnetCodec(std::initializer_list<uint8_t> local, std::initializer_list<uint8_t> remote);

    // Asks for an option on one side (WILL or DO), unless it is on or asked for.
    void Request(Side side, uint8_t option, std::vector<uint8_t>& out);
    bool Enabled(Side side, uint8_t option) const;

    // Data in wire form (every 0xFF doubled) appended to `out`; the size it takes.
    static void Escape(const uint8_t* data, size_t length, std::vector<uint8_t>& out);
    static size_t EscapedSize(const uint8_t* data, size_t length);
    // IAC SB option payload IAC SE, the payload escaped.
    static void Subnegotiate(uint8_t option, const uint8_t* payload, size_t length, std::vector<uint8_t>& out);

    // Bytes from the peer: data appended to `data`, answers owed to the peer to `out`,
    // option changes and subnegotiations to `listener`.
    void Decode(const uint8_t* in, size_t length, std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                Listener& listener);

private:
    enum class Parse : uint8_t { Data, Iac, Verb, SbOption, SbData, SbIac };
    enum class State : uint8_t { No, Yes, WantNo, WantYes };
    struct Option {
        State Is = State::No;
        bool Opposite = false; // the "queue" bit: the other way was asked for meanwhile
        bool Agreed = false;   // this end accepts it when the peer asks
    };

    Option& At(Side side, uint8_t option) { return (side == Side::Local ? Local : Remote)[option]; }
    // A WILL/WONT (side Remote) or DO/DONT (side Local) from the peer.
    void Received(Side side, uint8_t option, bool positive, std::vector<uint8_t>& out, Listener& listener);
    // The byte after an IAC.
    void AfterIac(uint8_t byte, std::vector<uint8_t>& data);
    // Data bytes from the peer.
    void PutData(const uint8_t* first, const uint8_t* last, std::vector<uint8_t>& data);

    std::array<Option, 256> Local {};
    std::array<Option, 256> Remote {};
    Parse Where = Parse::Data;
    uint8_t Verb = 0;
    uint8_t SbOption = 0;
    bool SbOverlong = false;
    bool AfterCr = false; // the last data byte was a CR of NVT text
    std::vector<uint8_t> SbPayload;
};
