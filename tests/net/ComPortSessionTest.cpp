// The com port control option on one connection: what a client sends in wire form,
// what it keeps of a server's reports, how a server answers, and a client and a
// server of the console's agreeing.
#include "net/ComPortSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253, DONT = 254;

Bytes Sb(std::initializer_list<uint8_t> payload)
{
    Bytes out {IAC, SB, 44};
    out.insert(out.end(), payload);
    out.insert(out.end(), {IAC, SE});
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A session whose port has `settings`, which the test may change.
struct Session {
    Session(ComPortSession::Role role, LineSettings start)
        : Settings(start), Com(role, [this](LineSettings& out) { return out = Settings, true; })
    {
        Com.Start(Started);
    }
    // Feeds bytes from the peer; returns the answers.
    Bytes Feed(const Bytes& in)
    {
        Bytes out;
        Com.Receive(in.data(), in.size(), Data, out);
        return out;
    }
    LineSettings Settings;
    ComPortSession Com;
    Bytes Started;
    Bytes Data;
};

const LineSettings App9600 {9600, 7, LineSettings::Parity::Even, LineSettings::StopBits::Two,
                            LineSettings::Flow::Hardware};

TEST(ComPortClientTest, SendsTheSettingsOnceTheServerTakesTheOptionThenOnlyChanges)
{
    Session client(ComPortSession::Role::Client, App9600);
    EXPECT_EQ(client.Started, (Bytes {IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    Bytes early;
    client.Com.SettingsChanged(early);
    EXPECT_TRUE(early.empty()) << "nothing is sent before the server takes the option";

    EXPECT_EQ(client.Feed({IAC, DO, 44}), Join({Sb({1, 0, 0, 0x25, 0x80}), Sb({2, 7}), Sb({3, 3}), Sb({4, 2}),
                                                Sb({5, 3}), Sb({5, 8}), Sb({5, 11})}));
    EXPECT_TRUE(client.Com.LineControl());

    // 65535 baud: the 0xFF bytes of the value are doubled.
    client.Settings.Baud = 65535;
    Bytes changed;
    client.Com.SettingsChanged(changed);
    EXPECT_EQ(changed, (Bytes {IAC, SB, 44, 1, 0, 0, IAC, IAC, IAC, IAC, IAC, SE}));
    Bytes purge;
    client.Com.Purge(ComPortSession::PurgeBoth, purge);
    EXPECT_EQ(purge, Sb({12, 3}));
}

TEST(ComPortClientTest, KeepsWhatTheServerReportsAmidData)
{
    Session client(ComPortSession::Role::Client, App9600);
    client.Feed(Join({{IAC, DO, 44, 'a'}, Sb({101, 0, 1, 0xC2, 0}), Sb({102, 8}), Sb({103, 1}), Sb({104, 1}),
                      Sb({105, 3}), Sb({105, 8}), Sb({105, 12}), {'b'}, Sb({106, 0x60}), Sb({107, 0x30}),
                      Sb({100, 's', 'e', 'r'}), {IAC, IAC}}));
    const ReportedLine& line = client.Com.Reported();
    EXPECT_TRUE(line.Agreed);
    EXPECT_EQ(line.Baud, 115200u);
    EXPECT_EQ((std::vector<int> {line.DataSize, line.Parity, line.StopSize, line.FlowControl, line.Dtr, line.Rts}),
              (std::vector<int> {8, 1, 1, 3, 8, 12}));
    EXPECT_TRUE(line.HaveLineState && line.HaveModemState);
    EXPECT_EQ(line.LineState, 0x60);
    EXPECT_EQ(line.ModemState, 0x30);
    EXPECT_EQ(line.Signature, "ser");
    EXPECT_EQ(client.Data, (Bytes {'a', 'b', 0xFF}));
    client.Feed(Sb({108}));
    EXPECT_TRUE(client.Com.Suspended());
    client.Feed(Sb({109}));
    EXPECT_FALSE(client.Com.Suspended());
}

TEST(ComPortClientTest, AServerThatRefusesGetsNoSettingsAndDataStillPasses)
{
    Session client(ComPortSession::Role::Client, App9600);
    EXPECT_TRUE(client.Feed({IAC, DONT, 44, 'x', IAC, IAC, 'y'}).empty());
    Bytes none;
    client.Com.SettingsChanged(none);
    client.Com.Purge(ComPortSession::PurgeReceive, none);
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(client.Com.LineControl());
    EXPECT_EQ(client.Data, (Bytes {'x', 0xFF, 'y'}));
}

struct AnswerRow {
    const char* Name;
    Bytes Request;
    Bytes Answer;
};

class ComPortServerTest : public ::testing::TestWithParam<AnswerRow> {};

// The port's application runs 9600 baud with hardware flow control, whatever the
// remote client asks for.
TEST_P(ComPortServerTest, AnswersWithTheValueInUse)
{
    Session server(ComPortSession::Role::Server, App9600);
    server.Feed({IAC, WILL, 44});
    EXPECT_TRUE(server.Com.LineControl());
    EXPECT_EQ(server.Feed(GetParam().Request), GetParam().Answer);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ComPortServerTest,
    ::testing::Values(AnswerRow {"Baud", Sb({1, 0, 1, 0xC2, 0}), Sb({101, 0, 0, 0x25, 0x80})},
                      AnswerRow {"BaudAsked", Sb({1, 0, 0, 0, 0}), Sb({101, 0, 0, 0x25, 0x80})},
                      AnswerRow {"DataSize", Sb({2, 8}), Sb({102, 7})},
                      AnswerRow {"Parity", Sb({3, 1}), Sb({103, 3})},
                      AnswerRow {"StopSize", Sb({4, 1}), Sb({104, 2})},
                      AnswerRow {"FlowControl", Sb({5, 1}), Sb({105, 3})},
                      AnswerRow {"InboundFlow", Sb({5, 13}), Sb({105, 16})},
                      AnswerRow {"DtrAsSet", Join({Sb({5, 9}), Sb({5, 7})}), Join({Sb({105, 9}), Sb({105, 9})})},
                      AnswerRow {"Purge", Sb({12, 2}), Sb({112, 2})},
                      AnswerRow {"BadPurgeIgnored", Sb({12, 7}), {}},
                      AnswerRow {"Signature", Sb({0}), Sb({100, 'Q', 'u', 'i', 'l', 'l', 'o', 'n', ' ', 'C', 'o', 'n',
                                                          's', 'o', 'l', 'e'})},
                      AnswerRow {"TruncatedBaudIgnored", Sb({1, 0, 0}), {}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A client and a server of the console's, each feeding the other what it sends.
TEST(ComPortPairTest, TheClientLearnsTheServersSettings)
{
    Session client(ComPortSession::Role::Client, App9600);
    const LineSettings far {115200, 8, LineSettings::Parity::None, LineSettings::StopBits::One,
                            LineSettings::Flow::None};
    Session server(ComPortSession::Role::Server, far);
    Bytes toServer = client.Started;
    Bytes toClient = server.Started;
    for (int round = 0; round < 5 && (!toServer.empty() || !toClient.empty()); ++round) {
        Bytes forServer, forClient;
        forServer.swap(toServer);
        forClient.swap(toClient);
        toClient = server.Feed(forServer);
        toServer = client.Feed(forClient);
    }
    EXPECT_TRUE(toServer.empty() && toClient.empty()) << "the ends kept talking";
    const ReportedLine& line = client.Com.Reported();
    EXPECT_EQ(line.Baud, far.Baud);
    EXPECT_EQ((std::vector<int> {line.DataSize, line.Parity, line.StopSize, line.FlowControl, line.Dtr, line.Rts}),
              (std::vector<int> {8, 1, 1, 1, 8, 11}));
    EXPECT_TRUE(client.Data.empty() && server.Data.empty());
}

} // namespace
