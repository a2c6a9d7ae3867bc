// Telnet on a byte stream: data exact through escaping at every split of the reads,
// commands taken out, NVT's CR NUL made CR unless the peer sends BINARY, options
// negotiated without loops and refused when unknown.
#include "net/TelnetCodec.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Everything a decoder reports besides data, one line per event.
struct Events : TelnetCodec::Listener {
    void OptionChanged(TelnetCodec::Side side, uint8_t option, bool enabled) override
    {
        Lines.push_back(std::string(side == TelnetCodec::Side::Local ? "local " : "remote ")
                        + std::to_string(option) + (enabled ? " on" : " off"));
    }
    void Subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override
    {
        std::string line = "sb " + std::to_string(option) + ":";
        for (size_t i = 0; i < length; ++i)
            line += " " + std::to_string(payload[i]);
        Lines.push_back(line);
    }
    std::vector<std::string> Lines;
};

// What one decoder makes of `wire` read in the pieces `cuts` marks.
struct Decoded {
    Bytes Data;
    Bytes Answers;
    std::vector<std::string> Events;
    bool operator==(const Decoded&) const = default;
};

TelnetCodec Agreeing()
{
    return TelnetCodec({TelnetCodec::Binary, 44}, {TelnetCodec::Binary, 44});
}

Decoded DecodeInPieces(const Bytes& wire, const std::vector<size_t>& cuts)
{
    TelnetCodec codec = Agreeing();
    Events events;
    Decoded out;
    size_t from = 0;
    for (size_t cut : cuts) {
        codec.Decode(wire.data() + from, cut - from, out.Data, out.Answers, events);
        from = cut;
    }
    codec.Decode(wire.data() + from, wire.size() - from, out.Data, out.Answers, events);
    out.Events = events.Lines;
    return out;
}

// The same result whole, cut in two at every place, and byte by byte.
void ExpectSameAtEverySplit(const Bytes& wire, const Decoded& expected)
{
    EXPECT_EQ(DecodeInPieces(wire, {}), expected);
    std::vector<size_t> single;
    for (size_t cut = 1; cut < wire.size(); ++cut) {
        ASSERT_EQ(DecodeInPieces(wire, {cut}), expected) << "cut at " << cut;
        single.push_back(cut);
    }
    EXPECT_EQ(DecodeInPieces(wire, single), expected);
}

TEST(TelnetEscapeTest, EveryByteValueAndRunsOfIacComeBackExact)
{
    Bytes data = qlntest::AllByteValues();
    data.insert(data.end(), {0xFF, 0xFF, 0xFF, 'x', 0xFF});
    Bytes wire;
    TelnetCodec::Escape(data.data(), data.size(), wire);
    EXPECT_EQ(wire.size(), data.size() + 5);
    EXPECT_EQ(TelnetCodec::EscapedSize(data.data(), data.size()), wire.size());
    ExpectSameAtEverySplit(wire, {data, {}, {}});
}

struct DecodeRow {
    const char* Name;
    Bytes Wire;
    Decoded Expected;
};

class TelnetDecodeTest : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(TelnetDecodeTest, SameResultHoweverTheReadsAreCut)
{
    ExpectSameAtEverySplit(GetParam().Wire, GetParam().Expected);
}

constexpr uint8_t IAC = 255, SB = 250, SE = 240, NOP = 241, WILL = 251, WONT = 252, DO = 253, DONT = 254;

Bytes Overlong()
{
    Bytes wire {IAC, SB, 44};
    wire.insert(wire.end(), TelnetCodec::MaxSubnegotiation + 1, 'x');
    wire.insert(wire.end(), {IAC, SE, 'z'});
    return wire;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, TelnetDecodeTest,
    ::testing::Values(
        DecodeRow {"CommandsLeaveNothing", {'a', IAC, 241, 'b', IAC, 249, 'c', IAC, 242, IAC, SE}, {{'a', 'b', 'c'}, {}, {}}},
        DecodeRow {"UnknownWillIsRefused", {IAC, WILL, 1, 'a'}, {{'a'}, {IAC, DONT, 1}, {}}},
        DecodeRow {"UnknownDoIsRefused", {IAC, DO, 24}, {{}, {IAC, WONT, 24}, {}}},
        DecodeRow {"AgreedOptionsAreTaken", {IAC, WILL, 0, IAC, DO, 44}, {{}, {IAC, DO, 0, IAC, WILL, 44}, {"remote 0 on", "local 44 on"}}},
        DecodeRow {"RefusalsOfWhatIsOffGoUnanswered", {IAC, WONT, 0, IAC, DONT, 44, IAC, WONT, 9}, {}},
        DecodeRow {"RepeatedAgreementIsAnsweredOnce", {IAC, WILL, 0, IAC, WILL, 0, IAC, WILL, 0}, {{}, {IAC, DO, 0}, {"remote 0 on"}}},
        DecodeRow {"SubnegotiationWithEscapedIac", {'a', IAC, SB, 44, 1, IAC, IAC, 2, IAC, SE, 'b'}, {{'a', 'b'}, {}, {"sb 44: 1 255 2"}}},
        DecodeRow {"CommandInsideSubnegotiationEndsIt", {IAC, SB, 44, 1, IAC, WILL, 1, 'a'}, {{'a'}, {IAC, DONT, 1}, {}}},
        DecodeRow {"OverlongSubnegotiationIsDropped", Overlong(), {{'z'}, {}, {}}},
        DecodeRow {"NvtCrNulLosesTheNul", {'a', '\r', 0, '\r', '\n', 0, '\r', IAC, NOP, 0, '\r', IAC, IAC, 0},
                   {{'a', '\r', '\r', '\n', 0, '\r', '\r', 0xFF, 0}, {}, {}}},
        DecodeRow {"BinaryKeepsCrNul", {IAC, WILL, 0, '\r', 0}, {{'\r', 0}, {IAC, DO, 0}, {"remote 0 on"}}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Two ends that agree to different options, each asking for what the other refuses,
// settle after a few exchanges and agree on what is on.
TEST(TelnetNegotiationTest, TwoEndsSettleWithoutLooping)
{
    TelnetCodec a({0, 3}, {0, 44});
    TelnetCodec b({0, 44}, {0});
    Events eventsA, eventsB;
    Bytes toB, toA, data;
    for (uint8_t option : {0, 3, 44, 77}) {
        a.Request(TelnetCodec::Side::Local, option, toB);
        a.Request(TelnetCodec::Side::Remote, option, toB);
        b.Request(TelnetCodec::Side::Local, option, toA);
    }
    int rounds = 0;
    while ((!toA.empty() || !toB.empty()) && rounds < 10) {
        Bytes forA, forB;
        forA.swap(toA);
        forB.swap(toB);
        a.Decode(forA.data(), forA.size(), data, toB, eventsA);
        b.Decode(forB.data(), forB.size(), data, toA, eventsB);
        ++rounds;
    }
    EXPECT_LE(rounds, 3);
    EXPECT_TRUE(data.empty());
    for (int option = 0; option < 256; ++option) {
        const auto o = static_cast<uint8_t>(option);
        EXPECT_EQ(a.Enabled(TelnetCodec::Side::Local, o), b.Enabled(TelnetCodec::Side::Remote, o)) << option;
        EXPECT_EQ(a.Enabled(TelnetCodec::Side::Remote, o), b.Enabled(TelnetCodec::Side::Local, o)) << option;
    }
    EXPECT_TRUE(a.Enabled(TelnetCodec::Side::Local, 0));
    EXPECT_TRUE(a.Enabled(TelnetCodec::Side::Remote, 44));
    EXPECT_FALSE(a.Enabled(TelnetCodec::Side::Local, 3)); // b refuses it
    EXPECT_FALSE(a.Enabled(TelnetCodec::Side::Local, 77));
}

} // namespace
