// A whole session of Telnet with line control (RFC 2217) through the links' Telnet
// stage, in either role.
//
// Against a peer that sends anything: answers stay within a few times what was sent, no
// answer is data, what goes up is never more than what came, and the stage's own
// stream stays one that a Telnet end reads back into the application's bytes.
//
// Against the opposite role, bytes cut and interleaved as the seed says: every data
// byte arrives once and in order both ways, and the client's line settings end up
// as the server's view of that client and as what the server reported back.
#include "FuzzInput.h"
#include "links/TelnetStage.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Role = ComPortSession::Role;

// The application's line, always one the option can carry.
LineSettings Settings(qlnfuzz::Input& in)
{
    LineSettings s;
    static const uint32_t Bauds[] = {300, 9600, 19200, 57600, 115200, 921600, 1234567};
    s.Baud = Bauds[in.Byte() % 7];
    s.DataBits = static_cast<uint8_t>(5 + in.Byte() % 4);
    s.ParityBit = static_cast<LineSettings::Parity>(1 + in.Byte() % 5);
    s.Stop = static_cast<LineSettings::StopBits>(1 + in.Byte() % 3);
    s.FlowControl = static_cast<LineSettings::Flow>(1 + in.Byte() % 3);
    return s;
}

// The application's bytes: a span, repeated to reach past a release block at times.
Bytes AppData(qlnfuzz::Input& in)
{
    const Bytes span = in.Span();
    const int times = 1 + (in.Byte() % 4 == 0 ? in.Byte() : 0);
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), span.begin(), span.end());
    return out;
}

// Whether `part` is `whole` with some bytes left out.
bool Subsequence(const Bytes& part, const Bytes& whole)
{
    size_t at = 0;
    for (uint8_t byte : whole)
        if (at < part.size() && part[at] == byte)
            ++at;
    return at == part.size();
}

// A Telnet end that takes everything and keeps the data: reads the stage's stream.
struct Reader : TelnetCodec::Listener {
    TelnetCodec Codec {{TelnetCodec::Binary, TelnetCodec::SuppressGoAhead}, {TelnetCodec::Binary, TelnetCodec::SuppressGoAhead, 44}};
    Bytes Data, Answers;
    void Take(const Bytes& wire) { Codec.Decode(wire.data(), wire.size(), Data, Answers, *this); }
    void OptionChanged(TelnetCodec::Side, uint8_t, bool) override {}
    void Subnegotiation(uint8_t, const uint8_t*, size_t) override {}
};

void Hostile(Role role, qlnfuzz::Input& in)
{
    LineSettings line = Settings(in);
    TelnetStage stage(role, [&line](LineSettings& s) { s = line; return true; }, in.Byte() & 1);
    Bytes down, up, given;
    size_t from = 0;
    stage.Open(down);
    bool purged = false;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        const size_t before = down.size();
        switch (op % 6) {
        case 0: case 1: {
            const Bytes bytes = in.Span();
            const size_t upBefore = up.size();
            stage.FromBelow(bytes.data(), bytes.size(), up, down);
            QLN_FUZZ_CHECK(up.size() - upBefore <= bytes.size());
            // Each request is answered once; the largest answer, a client's settings
            // when the server takes the option, is some 60 bytes for a 3-byte DO.
            QLN_FUZZ_CHECK(down.size() - before <= 64 + 24 * bytes.size());
            from += bytes.size();
            purged = purged || (role == Role::Server && std::find(bytes.begin(), bytes.end(), 12) != bytes.end());
            break;
        }
        case 2: {
            Bytes data = AppData(in);
            // A CR from an end that does not take BINARY is NVT text to the reader.
            std::replace(data.begin(), data.end(), uint8_t('\r'), uint8_t('r'));
            given.insert(given.end(), data.begin(), data.end());
            stage.FromAbove(data.data(), data.size(), down);
            QLN_FUZZ_CHECK(down.size() - before <= 8);
            break;
        }
        case 3:
            stage.Release(down);
            QLN_FUZZ_CHECK(down.size() - before <= TelnetStage::ReleaseBlock + 8);
            break;
        case 4:
            line = Settings(in);
            stage.PortChanged(PortNews {true, static_cast<uint8_t>(in.Byte() % 4), bool(in.Byte() & 1)});
            purged = true; // the application's flush may drop data on its way
            break;
        default:
            stage.Service(down);
            QLN_FUZZ_CHECK(down.size() - before <= 128);
            break;
        }
    }
    QLN_FUZZ_CHECK(up.size() <= from);
    const bool suspended = stage.GetSession().Suspended();
    for (int i = 0; i < 64 && stage.Holding() > 0 && !suspended; ++i)
        stage.Release(down);
    Reader reader;
    reader.Take(down);
    if (purged || suspended)
        QLN_FUZZ_CHECK(Subsequence(reader.Data, given));
    else
        QLN_FUZZ_CHECK(reader.Data == given);
}

// One end of the pair.
struct End {
    LineSettings Line;
    TelnetStage Stage;
    Bytes Given, Got, Wire; // Wire: on its way to the other end
    End(Role role, const LineSettings& line, bool present)
        : Line(line), Stage(role, [this](LineSettings& s) { s = Line; return true; }, present)
    {
    }
};

// Moves up to `count` bytes of a's wire to b, and b's answers onto b's wire.
void Deliver(End& a, End& b, size_t count)
{
    count = std::min(count, a.Wire.size());
    const Bytes part(a.Wire.begin(), a.Wire.begin() + static_cast<std::ptrdiff_t>(count));
    a.Wire.erase(a.Wire.begin(), a.Wire.begin() + static_cast<std::ptrdiff_t>(count));
    b.Stage.FromBelow(part.data(), part.size(), b.Got, b.Wire);
}

void Pair(Role role, qlnfuzz::Input& in)
{
    const bool present = in.Byte() & 1;
    End a(role, Settings(in), present), b(role == Role::Client ? Role::Server : Role::Client, Settings(in), present);
    a.Stage.Open(a.Wire);
    b.Stage.Open(b.Wire);
    End* ends[2] = {&a, &b};
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        End& one = *ends[op & 1];
        End& other = *ends[(op & 1) ^ 1];
        switch ((op >> 1) % 5) {
        case 0: {
            const Bytes data = AppData(in);
            one.Given.insert(one.Given.end(), data.begin(), data.end());
            one.Stage.FromAbove(data.data(), data.size(), one.Wire);
            break;
        }
        case 1:
            Deliver(one, other, in.Word());
            break;
        case 2:
            if (one.Wire.empty())
                one.Stage.Release(one.Wire);
            break;
        case 3:
            one.Line = Settings(in);
            one.Stage.PortChanged(PortNews {true, 0, bool(in.Byte() & 1)});
            break;
        default:
            one.Stage.Service(one.Wire);
            break;
        }
    }
    // The client's settings once more, then everything goes.
    End& client = role == Role::Client ? a : b;
    End& server = role == Role::Client ? b : a;
    client.Stage.PortChanged(PortNews {true, 0, {}});
    for (int round = 0; round < 1000; ++round) {
        for (End* one : ends) {
            one->Stage.Service(one->Wire);
            if (one->Wire.empty())
                one->Stage.Release(one->Wire);
        }
        if (a.Wire.empty() && b.Wire.empty() && a.Stage.Holding() == 0 && b.Stage.Holding() == 0)
            break;
        Deliver(a, b, a.Wire.size());
        Deliver(b, a, b.Wire.size());
    }
    QLN_FUZZ_CHECK(a.Wire.empty() && b.Wire.empty());
    QLN_FUZZ_CHECK(a.Got == b.Given && b.Got == a.Given);

    const ComPortSession::AskedLine& asked = server.Stage.GetSession().ClientLine();
    const LineSettings& want = client.Line;
    using A = ComPortSession::AskedLine;
    QLN_FUZZ_CHECK(asked.Set == (A::Baud | A::DataSize | A::Parity | A::StopSize | A::Flow));
    QLN_FUZZ_CHECK(asked.Settings == want);
    const ReportedLine& reported = *client.Stage.FarLine();
    QLN_FUZZ_CHECK(reported.Agreed && reported.Baud == want.Baud && reported.DataSize == want.DataBits);
    QLN_FUZZ_CHECK(reported.Parity == uint8_t(want.ParityBit) && reported.StopSize == uint8_t(want.Stop));
    QLN_FUZZ_CHECK(reported.FlowControl == uint8_t(want.FlowControl));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    const uint8_t mode = in.Byte();
    const Role role = mode & 1 ? Role::Server : Role::Client;
    if (mode & 2)
        Hostile(role, in);
    else
        Pair(role, in);
    return 0;
}
