// Telnet as the links speak it, fed a peer's bytes. What the decoder makes of a
// stream does not depend on how reads cut it; its answers are whole commands, never
// more than what it was sent, and two ends answering each other fall silent; data
// and subnegotiations the encoder wrote decode to what was given.
#include "FuzzInput.h"
#include "net/TelnetCodec.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder : TelnetCodec::Listener {
    Bytes Log; // every call, as bytes
    std::vector<Bytes> Payloads;
    void OptionChanged(TelnetCodec::Side side, uint8_t option, bool enabled) override
    {
        Log.insert(Log.end(), {uint8_t(side == TelnetCodec::Side::Local ? 'L' : 'R'), option, uint8_t(enabled)});
    }
    void Subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override
    {
        QLN_FUZZ_CHECK(length <= TelnetCodec::MaxSubnegotiation);
        Log.insert(Log.end(), {uint8_t('S'), option});
        Log.insert(Log.end(), payload, payload + length);
        Payloads.emplace_back(payload, payload + length);
    }
};

TelnetCodec Codec(uint8_t agreed)
{
    // The options of the console's links, each side agreed to or not by one bit.
    using T = TelnetCodec;
    std::initializer_list<uint8_t> none {}, local {T::Binary, T::SuppressGoAhead, 44}, remote {T::Binary, T::Echo};
    return T(agreed & 1 ? local : none, agreed & 2 ? remote : none);
}

struct Decoded {
    Bytes Data, Out;
    Recorder Events;
};

void CheckAnswers(const Bytes& out, size_t given)
{
    QLN_FUZZ_CHECK(out.size() % 3 == 0 && out.size() <= given);
    for (size_t i = 0; i < out.size(); i += 3)
        QLN_FUZZ_CHECK(out[i] == TelnetCodec::IAC && out[i + 1] >= TelnetCodec::WILL && out[i + 1] != TelnetCodec::IAC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    const uint8_t agreed = in.Byte();
    const uint8_t cuts = in.Byte();
    const Bytes stream = in.Bytes(in.Left());

    // Whole, then cut into reads of 1 to 16 bytes as the seed says.
    TelnetCodec whole = Codec(agreed), cut = Codec(agreed);
    Decoded a, b;
    whole.Decode(stream.data(), stream.size(), a.Data, a.Out, a.Events);
    for (size_t at = 0, n = 0; at < stream.size(); at += n) {
        n = std::min<size_t>(stream.size() - at, 1 + ((cuts + at) % 16));
        cut.Decode(stream.data() + at, n, b.Data, b.Out, b.Events);
    }
    QLN_FUZZ_CHECK(a.Data == b.Data && a.Out == b.Out && a.Events.Log == b.Events.Log);
    QLN_FUZZ_CHECK(a.Data.size() <= stream.size());
    CheckAnswers(a.Out, stream.size());

    // Two ends asking each other for options as the stream's byte pairs say, their
    // answers delivered now and then: each request is answered at most once, so both
    // fall silent within a few rounds once nobody asks any more.
    TelnetCodec ends[2] = {Codec(agreed), Codec(agreed >> 2)};
    Bytes wires[2]; // wires[i]: on its way to ends[i]
    Decoded sink;
    const auto deliver = [&](int to) {
        Bytes bytes = std::move(wires[to]);
        wires[to].clear();
        ends[to].Decode(bytes.data(), bytes.size(), sink.Data, wires[1 - to], sink.Events);
        CheckAnswers(wires[1 - to], bytes.size() + wires[1 - to].size());
    };
    static const uint8_t Options[] = {TelnetCodec::Binary, TelnetCodec::Echo, TelnetCodec::SuppressGoAhead, 44};
    for (size_t i = 0; i + 1 < stream.size(); i += 2) {
        const uint8_t what = stream[i];
        const int from = what & 1;
        const auto side = what & 2 ? TelnetCodec::Side::Local : TelnetCodec::Side::Remote;
        ends[from].Request(side, Options[stream[i + 1] % 4], wires[1 - from]);
        if (what & 4)
            deliver(what & 8 ? 1 : 0);
    }
    for (int rounds = 0; rounds < 16 && (!wires[0].empty() || !wires[1].empty()); ++rounds) {
        deliver(0);
        deliver(1);
    }
    QLN_FUZZ_CHECK(wires[0].empty() && wires[1].empty());
    QLN_FUZZ_CHECK(sink.Data.empty()); // requests and answers carry no data

    // Data and a subnegotiation written by the encoder, to an end that takes BINARY.
    TelnetCodec binary = Codec(3);
    Decoded c;
    const Bytes will = {TelnetCodec::IAC, TelnetCodec::WILL, TelnetCodec::Binary};
    binary.Decode(will.data(), will.size(), c.Data, c.Out, c.Events);
    QLN_FUZZ_CHECK(binary.Enabled(TelnetCodec::Side::Remote, TelnetCodec::Binary));
    Bytes wire;
    TelnetCodec::Escape(stream.data(), stream.size(), wire);
    QLN_FUZZ_CHECK(wire.size() == TelnetCodec::EscapedSize(stream.data(), stream.size()));
    const size_t payload = std::min(stream.size(), TelnetCodec::MaxSubnegotiation);
    TelnetCodec::Subnegotiate(44, stream.data(), payload, wire);
    TelnetCodec::Escape(stream.data(), stream.size(), wire);
    binary.Decode(wire.data(), wire.size(), c.Data, c.Out, c.Events);
    Bytes twice = stream;
    twice.insert(twice.end(), stream.begin(), stream.end());
    QLN_FUZZ_CHECK(c.Data == twice);
    QLN_FUZZ_CHECK(c.Events.Payloads.size() == 1 && c.Events.Payloads[0] == Bytes(stream.begin(), stream.begin() + payload));
    return 0;
}
