// The com port control option on one connection: what a client sends in wire form,
// what it keeps of a server's reports, how a server answers (pyserial's opening
// replayed), the modem and line state it reports, and a client and a server of the
// console's agreeing.
#include "net/ComPortSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

Bytes Sb(const Bytes& payload)
{
    Bytes out {IAC, SB, 44};
    out.insert(out.end(), payload.begin(), payload.end());
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
    Session(ComPortSession::Role role, LineSettings start, bool application = false)
        : Settings(start), Com(role, [this](LineSettings& out) { return out = Settings, true; })
    {
        Com.SetApplicationPresent(application, Started);
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

// A rate of 0 asks the server for its rate; an application's hang-up is DTR off.
TEST(ComPortClientTest, AHangUpGoesAsDtrOffAndTheNextRateRaisesDtr)
{
    Session client(ComPortSession::Role::Client, App9600);
    client.Settings.Baud = 0;
    EXPECT_EQ(client.Feed({IAC, DO, 44}), Join({Sb({2, 7}), Sb({3, 3}), Sb({4, 2}), Sb({5, 3}), Sb({5, 9}), Sb({5, 11})}));
    client.Settings.Baud = 19200;
    Bytes out;
    client.Com.SettingsChanged(out);
    EXPECT_EQ(out, Join({Sb({1, 0, 0, 0x4B, 0}), Sb({5, 8})}));
    client.Settings.Baud = 0;
    out.clear();
    client.Com.SettingsChanged(out);
    EXPECT_EQ(out, Sb({5, 9}));
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

// The port's application runs 9600 7E2 with hardware flow control; a client's valid
// settings are taken all the same.
TEST_P(ComPortServerTest, TakesValidSettingsAndAnswersWithTheCurrentValue)
{
    Session server(ComPortSession::Role::Server, App9600);
    EXPECT_EQ(server.Feed({IAC, WILL, 44}), Sb({107, 0})) << "the modem state at connect";
    EXPECT_TRUE(server.Com.LineControl());
    EXPECT_EQ(server.Feed(GetParam().Request), GetParam().Answer);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ComPortServerTest,
    ::testing::Values(AnswerRow {"BaudAskedIsThePorts", Sb({1, 0, 0, 0, 0}), Sb({101, 0, 0, 0x25, 0x80})},
                      AnswerRow {"BaudAskedIsTheLastTaken", Join({Sb({1, 0, 0, 1, 0x2C}), Sb({1, 0, 0, 0, 0})}),
                                 Join({Sb({101, 0, 0, 1, 0x2C}), Sb({101, 0, 0, 1, 0x2C})})},
                      AnswerRow {"DataSizeNineIsInvalid", Sb({2, 9}), Sb({102, 7})},
                      AnswerRow {"ParitySevenIsInvalid", Join({Sb({3, 2}), Sb({3, 7}), Sb({3, 0})}),
                                 Join({Sb({103, 2}), Sb({103, 2}), Sb({103, 2})})},
                      AnswerRow {"StopSize", Sb({4, 3}), Sb({104, 3})},
                      AnswerRow {"FlowControlAsked", Sb({5, 0}), Sb({105, 3})},
                      AnswerRow {"FlowDcd", Sb({5, 17}), Sb({105, 17})},
                      AnswerRow {"InboundFlowDtr", Sb({5, 18}), Sb({105, 18})},
                      AnswerRow {"InboundFlowAsked", Sb({5, 13}), Sb({105, 16})},
                      AnswerRow {"InboundFollowsBoth", Join({Sb({5, 2}), Sb({5, 13})}), Join({Sb({105, 2}), Sb({105, 15})})},
                      AnswerRow {"DtrAsSet", Join({Sb({5, 9}), Sb({5, 7})}), Join({Sb({105, 9}), Sb({105, 9})})},
                      AnswerRow {"UnknownControlIgnored", Sb({5, 20}), {}},
                      AnswerRow {"BadPurgeIgnored", Sb({12, 7}), {}},
                      AnswerRow {"SuspendAndResumeUnanswered", Join({Sb({8}), Sb({9})}), {}},
                      AnswerRow {"ModemStateMask", Sb({11, 0x30}), Sb({111, 0x30})},
                      AnswerRow {"ModemStatePoll", Join({Sb({11, 0}), Sb({7})}), Join({Sb({111, 0}), Sb({107, 0})})},
                      AnswerRow {"LineStatePoll", Sb({6}), Sb({106, 0x60})},
                      AnswerRow {"Signature", Sb({0}), Sb({100, 'Q', 'u', 'i', 'l', 'l', 'o', 'n', ' ', 'C', 'o', 'n',
                                                          's', 'o', 'l', 'e'})},
                      AnswerRow {"ServerCodeIgnored", Sb({101, 0, 0, 0, 0}), {}},
                      AnswerRow {"TruncatedBaudIgnored", Sb({1, 0, 0}), {}}),
    [](const auto& info) { return std::string(info.param.Name); });

struct OpeningRow {
    const char* Name;
    Bytes Opening;       // pyserial's negotiation, as it sent it
    Bytes Answer;        // the console's answer
    bool ModemAtRequest; // the modem state comes with the first request
};

class PyserialOpeningTest : public ::testing::TestWithParam<OpeningRow> {};

// pyserial 3.5 opening rfc2217://…, byte for byte as it sends it, against a port whose
// application runs 38400 7E2: every setting is taken, so the open succeeds.
TEST_P(PyserialOpeningTest, OpensWithItsOwnSettingsAndSeesTheApplication)
{
    Session server(ComPortSession::Role::Server, {38400, 7, LineSettings::Parity::Even, LineSettings::StopBits::Two,
                                                  LineSettings::Flow::None}, true);
    EXPECT_EQ(server.Started, (Bytes {IAC, DO, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3}));
    EXPECT_EQ(server.Feed(GetParam().Opening), GetParam().Answer);
    Bytes settings, answers = GetParam().ModemAtRequest ? Sb({107, 0xB0}) : Bytes {};
    for (Bytes request : std::vector<Bytes> {{1, 0, 0, 0x25, 0x80}, {2, 8}, {3, 1}, {4, 1}, {5, 1}, {5, 8}, {5, 11},
                                             {12, 1}, {12, 2}}) {
        settings = Join({settings, Sb(request)});
        request[0] += 100; // each answer is the request with the server's code
        answers = Join({answers, Sb(request)});
    }
    EXPECT_EQ(server.Feed(settings), answers);
    EXPECT_TRUE(server.Com.LineControl());
    EXPECT_EQ(ComPortSession::AskedText(server.Com.ClientLine()), "asks 9600 8N1, flow none, DTR on, RTS on");
    EXPECT_EQ(server.Com.TakePurgeRequest(), ComPortSession::PurgeBoth);
    EXPECT_EQ(server.Com.TakePurgeRequest(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Openings, PyserialOpeningTest,
    ::testing::Values(OpeningRow {"OffersTheOption",
                                  {IAC, DO, 1, IAC, WILL, 3, IAC, DO, 3, IAC, DO, 44, IAC, WILL, 44, IAC, DO, 0, IAC, WILL, 0},
                                  Join({{IAC, WONT, 1, IAC, WONT, 44}, Sb({107, 0xB0})}), false},
                      // The console's DO came before pyserial sent its offers: it took the
                      // DO as agreement and left its own WILL (and DO SGA) out.
                      OpeningRow {"TakesTheServersDoAsAgreement", {IAC, DO, 1, IAC, DO, 0, IAC, WILL, 0, IAC, WILL, 3, IAC, DO, 44},
                                  {IAC, WONT, 1, IAC, WONT, 44}, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// CTS, DSR and CD follow the application; changes carry their delta bits as far as
// the client's mask lets them, and the line state goes only where a mask asks for it.
TEST(ComPortServerTest, ReportsTheModemAndLineStateAsTheMasksLetThem)
{
    Session server(ComPortSession::Role::Server, App9600);
    auto present = [&server](bool on) {
        Bytes out;
        server.Com.SetApplicationPresent(on, out);
        return out;
    };
    EXPECT_EQ(present(true), Bytes {}) << "nothing before the option is agreed";
    EXPECT_EQ(server.Feed({IAC, WILL, 44}), Sb({107, 0xB0}));
    EXPECT_EQ(present(false), Sb({107, 0x0B}));
    EXPECT_EQ(present(false), Bytes {});
    EXPECT_EQ(present(true), Sb({107, 0xBB}));
    server.Feed(Sb({11, 0x0F}));
    EXPECT_EQ(present(true), Bytes {});
    EXPECT_EQ(present(false), Sb({107, 0x0B}));

    Bytes line;
    server.Com.SetTransmitEmpty(false, line);
    server.Com.SetTransmitEmpty(true, line);
    EXPECT_TRUE(line.empty()) << "the line state mask starts at 0";
    EXPECT_EQ(server.Feed(Sb({10, 0x40})), Sb({110, 0x40}));
    server.Com.SetTransmitEmpty(false, line);
    server.Com.SetTransmitEmpty(true, line);
    server.Com.SetTransmitEmpty(true, line);
    EXPECT_EQ(line, Sb({106, 0x40}));
}

TEST(ComPortAskedTextTest, NamesWhatTheClientSet)
{
    using Asked = ComPortSession::AskedLine;
    EXPECT_EQ(ComPortSession::AskedText({}), "");
    EXPECT_EQ(ComPortSession::AskedText({{0, 8, LineSettings::Parity::Even}, Asked::Parity}), "asks ?E?");
    EXPECT_EQ(ComPortSession::AskedText({{115200, 5, LineSettings::Parity::Space, LineSettings::StopBits::OneAndHalf,
                                          LineSettings::Flow::Dcd},
                                         0x1F, 18, 9, 12, 5}),
              "asks 115200 5S1.5, flow DCD, inbound flow DTR, DTR off, RTS off, break on");
}

// Each end takes its own part of the option and refuses the other's.
TEST(ComPortRoleTest, EachEndRefusesTheOthersPart)
{
    Session server(ComPortSession::Role::Server, App9600), client(ComPortSession::Role::Client, App9600);
    EXPECT_EQ(server.Feed({IAC, DO, 44}), (Bytes {IAC, WONT, 44}));
    EXPECT_EQ(client.Feed({IAC, WILL, 44}), (Bytes {IAC, DONT, 44}));
    EXPECT_FALSE(server.Com.LineControl() || client.Com.LineControl());
}

// A peer that repeats the requests with the longest answers, or toggles the option,
// gets answers of bounded size and sets nothing that grows.
TEST(ComPortServerTest, AHostilePeerGetsBoundedAnswers)
{
    for (auto role : {ComPortSession::Role::Server, ComPortSession::Role::Client}) {
        Session session(role, App9600);
        const Bytes round = Join({Sb({0}), Sb({7}), Sb({100}), {IAC, WONT, 44, IAC, WILL, 44, IAC, DONT, 44, IAC, DO, 44}});
        Bytes flood;
        for (int i = 0; i < 1000; ++i)
            flood.insert(flood.end(), round.begin(), round.end());
        EXPECT_LE(session.Feed(flood).size(), 4 * flood.size());
    }
}

// A client and a server of the console's, each feeding the other what it sends until
// both are silent.
void Exchange(Session& client, Session& server, Bytes toServer, Bytes toClient)
{
    for (int round = 0; round < 5 && (!toServer.empty() || !toClient.empty()); ++round) {
        Bytes forServer, forClient;
        forServer.swap(toServer);
        forClient.swap(toClient);
        toClient = server.Feed(forServer);
        toServer = client.Feed(forClient);
    }
    EXPECT_TRUE(toServer.empty() && toClient.empty()) << "the ends kept talking";
}

// The client's application settings reach the far end, which shows them and answers
// with them; the client sees whether an application holds the far port.
TEST(ComPortPairTest, TheServerTakesTheClientsSettingsAndTheClientSeesTheFarApplication)
{
    Session client(ComPortSession::Role::Client, App9600);
    Session server(ComPortSession::Role::Server, {115200, 8, LineSettings::Parity::None, LineSettings::StopBits::One,
                                                  LineSettings::Flow::None}, true);
    Exchange(client, server, client.Started, server.Started);
    const ReportedLine& line = client.Com.Reported();
    EXPECT_EQ(line.Baud, App9600.Baud);
    EXPECT_EQ((std::vector<int> {line.DataSize, line.Parity, line.StopSize, line.FlowControl, line.Dtr, line.Rts,
                                 line.ModemState}),
              (std::vector<int> {7, 3, 2, 3, 8, 11, 0xB0}));
    EXPECT_EQ(ComPortSession::AskedText(server.Com.ClientLine()), "asks 9600 7E2, flow hardware, DTR on, RTS on");
    EXPECT_TRUE(client.Data.empty() && server.Data.empty());

    client.Settings.Baud = 0;
    Bytes hangUp;
    client.Com.SettingsChanged(hangUp);
    Exchange(client, server, hangUp, {});
    EXPECT_EQ(server.Com.ClientLine().Dtr, 9);
    EXPECT_EQ(server.Com.ClientLine().Settings.Baud, App9600.Baud);
}

} // namespace
