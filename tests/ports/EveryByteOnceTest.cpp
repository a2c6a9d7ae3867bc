// What an application writes reaches every live peer once: the tail of a write
// before close leaves with the application, and a link that is down keeps a bounded
// backlog instead of holding the port's other links.
#include <gtest/gtest.h>

#include <functional>

#include "platform/base/EventLog.h"
#include "platform/base/Text.h"
#include "support/Console.h"

using namespace qlntest;

namespace {

std::vector<uint8_t> Text(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Everything the socket has now.
std::vector<uint8_t> Drain(const UniqueFd& socket)
{
    std::vector<uint8_t> out;
    uint8_t buf[65536];
    ssize_t n;
    while ((n = recv(socket.Get(), buf, sizeof buf, MSG_DONTWAIT)) > 0)
        out.insert(out.end(), buf, buf + n);
    return out;
}

// Whether an event of the link said `words` since event `after`.
bool Said(uint64_t after, const std::string& words)
{
    for (const Event& event : EventLog::Instance().Since(after)) {
        if (event.Text.find(words) != std::string::npos)
            return true;
    }
    return false;
}

TEST(EveryByteOnceTest, TheTailOfAWriteBeforeCloseLeavesWithTheApplication)
{
    Console console;
    const uint16_t port = FreePort();
    CNetObject* server = console.Port->AddTcpServer(port).Link;
    const UniqueFd first = ConnectTo(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 1; }));

    // Written and closed at once, as `serial.Serial(...).write(data); close()` does:
    // the tail still waits in the pseudo-terminal when the application has gone (the
    // send delay sees to it that it does).
    console.Port->SetSendToNetDelayTime(20);
    const std::vector<uint8_t> session = Pattern(100000, 24);
    ASSERT_TRUE(console.Application->WriteAll(session));
    console.Application->Close();
    EXPECT_EQ(RecvExactly(first, session.size()), session);
    EXPECT_TRUE(WaitUntil([&] { return console.Port->ToNetQueued() == 0; }));
    // (A client that comes between two sessions, and sessions that close at once
    // without a send delay, are the randomised run's: DataPathRandomTest.)
}

// Twenty messages through a port whose traffic log is on, each of which the server's
// `client` gets at once; all of them in `all`. Logged once, as they left the port,
// whatever a dead link does later.
void SendPastADeadLink(Console& console, const UniqueFd& client, std::string& all)
{
    const std::string log = console.Home.Root + "/out.log";
    console.Port->SetLogFile(log.c_str());
    for (int i = 0; i < 20; ++i) {
        const std::string message = "message " + std::to_string(i) + ";";
        all += message;
        ASSERT_TRUE(console.Application->WriteAll(Text(message)));
        ASSERT_EQ(RecvExactly(client, message.size()), Text(message)) << "held by the dead link";
    }
    ASSERT_TRUE(WaitUntil([&] { return FileText(log).size() == all.size() + 2 * 20; }));
    EXPECT_EQ(console.Port->ToNetQueued(), 0u);
}

// A link that cannot reach its peer beside a server link whose client reads.
struct DeadLinkRow {
    const char* Name;
    std::function<CNetObject*(Console&, uint16_t deadPort)> Add;
    bool KeepsBacklog; // it will try again: it keeps what the others got
};

CNetObject* RefusedClient(Console& console, uint16_t port)
{
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", port).Link;
    console.Locked([&] { return link->SetReconnectInterval(50); });
    return link;
}

// (A TCP client nobody listens to is ServerAndDeadLink's.)
const DeadLinkRow DeadLinks[] = {
    {"UdpHostDoesNotResolve",
     [](Console& console, uint16_t) {
         return console.Port->AddUdp(FreePort(SOCK_DGRAM), "no-such-host.invalid", 9).Link;
     },
     true},
    {"TcpClientWithoutReconnect",
     [](Console& console, uint16_t port) {
         CNetObject* link = console.Port->AddTcpClient("127.0.0.1", port).Link;
         console.Locked([&] { return link->SetAutoReconnect(false); });
         return WaitUntil([&] { return console.State(link) == LinkState::Unconnected; }) ? link : nullptr;
     },
     false},
    {"UdpWithoutRemoteHost",
     [](Console& console, uint16_t) { return console.Port->AddUdp(FreePort(SOCK_DGRAM), "", 9).Link; }, false},
};

class DeadLinkTest : public ::testing::TestWithParam<DeadLinkRow> {};

TEST_P(DeadLinkTest, HoldsNoLiveLinkAndKeepsWhatItMissedWhenItWillTryAgain)
{
    Console console;
    const uint16_t serverPort = FreePort(), deadPort = FreePort();
    CNetObject* server = console.Port->AddTcpServer(serverPort).Link;
    CNetObject* dead = GetParam().Add(console, deadPort);
    ASSERT_NE(dead, nullptr);
    const UniqueFd client = ConnectTo(serverPort);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 1; }));

    std::string all;
    ASSERT_NO_FATAL_FAILURE(SendPastADeadLink(console, client, all));
    const size_t kept = console.Locked([&] { return dead->BacklogBytes(); });
    EXPECT_EQ(kept, GetParam().KeepsBacklog ? all.size() : 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, DeadLinkTest, ::testing::ValuesIn(DeadLinks),
                         [](const ::testing::TestParamInfo<DeadLinkRow>& info) { return info.param.Name; });

// A port with a server link whose client reads, and a client link whose peer is not
// there (yet).
class ServerAndDeadLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = console.Port->AddTcpServer(serverPort).Link;
        dead = RefusedClient(console, deadPort);
        client = ConnectTo(serverPort);
        ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 1; }));
    }

    Console console;
    const uint16_t serverPort = FreePort(), deadPort = FreePort();
    CNetObject* server = nullptr;
    CNetObject* dead = nullptr;
    UniqueFd client;
};

TEST_F(ServerAndDeadLink, ABacklogKeepsItsBoundDropsTheOldestAndSaysHowMuch)
{
    const uint64_t before = EventLog::Instance().LastNumber();
    // 400 KiB each way through a busy pump: a loaded machine (sanitizers, parallel
    // builds) needs more than the usual ten seconds.

    const std::vector<uint8_t> stream = Pattern(400 * 1024, 7);
    ASSERT_TRUE(console.Application->WriteAll(stream));
    EXPECT_EQ(RecvExactly(client, stream.size(), 30), stream) << "the live client lost bytes";
    ASSERT_TRUE(WaitUntil([&] { return console.Port->ToNetQueued() == 0; }));
    const size_t kept = console.Locked([&] { return dead->BacklogBytes(); });
    const uint64_t dropped = console.Locked([&] { return dead->BacklogDropped(); });
    EXPECT_LE(kept, Backlog::Bound);
    EXPECT_GT(kept, Backlog::Bound - 8192) << "whole chunks are dropped, no more than needed";
    EXPECT_EQ(kept + dropped, stream.size());
    EXPECT_TRUE(Said(before, "dropping the oldest bytes while down"));

    // It gets the newest of what it missed, in order, and the count is said.
    const UniqueFd listener = Listen(deadPort);
    const UniqueFd peer = AcceptWithin(listener, 30);
    const std::vector<uint8_t> tail(stream.end() - static_cast<long>(kept), stream.end());
    EXPECT_EQ(RecvExactly(peer, kept, 30), tail);
    EXPECT_TRUE(WaitUntil([&] { return Said(before, GroupedNumber(dropped) + " bytes dropped while down"); }));
}

TEST_F(ServerAndDeadLink, ALinkWithAPeerHoldsThePortInsteadOfDroppingItsBacklog)
{
    CNetObject* slow = dead;
    const std::vector<uint8_t> missed = Pattern(200 * 1024, 8);
    ASSERT_TRUE(console.Application->WriteAll(missed));
    ASSERT_EQ(RecvExactly(client, missed.size()), missed);

    // Its peer comes and does not read: the backlog fills its socket, the new bytes
    // join the backlog up to its bound, then the port holds; nothing is dropped.
    const UniqueFd listener = Listen(deadPort);
    const UniqueFd peer = AcceptWithin(listener);
    ASSERT_TRUE(WaitUntil([&] { return console.State(slow) == LinkState::Connected; }));
    const std::vector<uint8_t> more = Pattern(32 << 20, 9);
    size_t written = 0;
    WaitUntil([&] {
        const ssize_t n = write(console.Application->Fd.Get(), more.data() + written, more.size() - written);
        written += n > 0 ? static_cast<size_t>(n) : 0;
        Drain(client); // the live client keeps reading
        return written == more.size();
    }, 3);
    EXPECT_LT(written, more.size()) << "the port did not hold for the peer that does not read";
    std::vector<uint8_t> expected = missed;
    expected.insert(expected.end(), more.begin(), more.begin() + static_cast<long>(written));
    std::vector<uint8_t> got;
    WaitUntil([&] {
        Drain(client);
        const std::vector<uint8_t> now = Drain(peer);
        got.insert(got.end(), now.begin(), now.end());
        return got.size() >= expected.size();
    }, 60);
    EXPECT_TRUE(got == expected) << "got " << got.size() << " of " << expected.size();
    EXPECT_EQ(console.Locked([&] { return slow->BacklogDropped(); }), 0u);
}

// What the dead link missed is logged once as it left the port, kept through an edit
// of the link, and reaches its peer first and once when it comes; a removed link
// says what it discards.
TEST_F(ServerAndDeadLink, WhatItMissedIsKeptThroughAnEditAndArrivesOnce)
{
    std::string all;
    ASSERT_NO_FATAL_FAILURE(SendPastADeadLink(console, client, all));
    ASSERT_TRUE(WaitUntil([&] { return console.Locked([&] { return dead->BacklogBytes(); }) == all.size(); }));

    CNetObject* edited = RefusedClient(console, deadPort);
    ASSERT_TRUE(console.Port->ReplaceLink(dead, edited).Link);
    EXPECT_EQ(console.Locked([&] { return edited->BacklogBytes(); }), all.size());
    const uint64_t before = EventLog::Instance().LastNumber();
    CNetObject* other = RefusedClient(console, FreePort());
    ASSERT_TRUE(console.Application->WriteAll(Text("gone")));
    ASSERT_EQ(RecvExactly(client, 4), Text("gone"));
    ASSERT_TRUE(WaitUntil([&] { return console.Locked([&] { return other->BacklogBytes(); }) == 4; }));
    console.Port->RemoveLink(other);
    EXPECT_TRUE(Said(before, "4 bytes of the backlog discarded: the link was removed"));

    // The peer comes: it gets what it missed first, then what follows, each once.
    const UniqueFd listener = Listen(deadPort);
    const UniqueFd peer = AcceptWithin(listener);
    EXPECT_EQ(RecvExactly(peer, all.size() + 4), Text(all + "gone"));
    ASSERT_TRUE(console.Application->WriteAll(Text("after")));
    EXPECT_EQ(RecvExactly(peer, 5), Text("after"));
    EXPECT_EQ(RecvExactly(client, 5), Text("after"));
    EXPECT_TRUE(RecvFor(peer, 0.05).empty());
    EXPECT_EQ(console.Locked([&] { return edited->BacklogBytes(); }), 0u);
}

} // namespace
