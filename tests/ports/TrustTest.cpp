// Who a link serves: the allow list of TCP server and UDP links, the client limit,
// the rule that one peer cannot hold the others, and TCP keepalive.
#include <algorithm>
#include <gtest/gtest.h>

#include <netinet/tcp.h>
#include <thread>

#include "links/TcpClientLink.h"
#include "platform/base/EventLog.h"
#include "links/TcpServerLink.h"
#include "support/Console.h"
#include "support/LinkPeer.h"
#include "support/ParamName.h"
#include "support/TlsFiles.h"

using namespace qlntest;

namespace {

// A socket of `type` bound to `from` (any loopback address), connected or aimed at
// 127.0.0.1:`port`.
UniqueFd From(const char* from, int type, uint16_t port)
{
    UniqueFd fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
    sockaddr_in local = Loopback(0);
    inet_pton(AF_INET, from, &local.sin_addr);
    const sockaddr_in to = Loopback(port);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0
        || connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        fd.Reset();
    return fd;
}

// Whether the console closed the connection: its end reads the end, or a reset.
bool ClosedByConsole(const UniqueFd& socket)
{
    uint8_t byte;
    const ssize_t n = recv(socket.Get(), &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

struct Refusals {
    uint64_t Count;
    std::string Peer, Why;
};

Refusals RefusalsOf(Console& console, CNetObject* link)
{
    return console.Locked([&] { return Refusals {link->Figures().Refused, link->Figures().LastRefusedPeer, link->Figures().LastRefusedWhy}; });
}

struct AllowCase {
    const char* Allow;
    int Type; // SOCK_STREAM: a TCP server link; SOCK_DGRAM: a UDP link
    const char* From;
    bool Taken;
};

class AllowListTest : public ::testing::TestWithParam<AllowCase> {};

// A peer outside the list is closed at accept (TCP) or its datagram dropped (UDP),
// before a byte of it reaches the application, and counted with its address; a
// peer inside it is served. The links listen on every interface, where an IPv4 peer
// comes as an IPv4-mapped IPv6 address.
TEST_P(AllowListTest, OnlyPeersOnTheListReachTheApplication)
{
    const AllowCase& row = GetParam();
    Console console;
    LinkOptions options;
    options.Allow = row.Allow;
    const uint16_t port = FreePort(row.Type);
    CNetObject* link = row.Type == SOCK_STREAM
        ? console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, options).Link
        : console.Port->AddUdp(port, "127.0.0.1", FreePort(SOCK_DGRAM), CPortObject::BindFailure::Refuse, options).Link;
    ASSERT_NE(link, nullptr);
    const UniqueFd peer = From(row.From, row.Type, port);
    ASSERT_TRUE(peer);
    const std::string shownAs = std::string(row.From) + ":" + std::to_string(LocalPort(peer));
    ASSERT_TRUE(SendAll(peer, {'h', 'i'}));
    if (row.Taken) {
        EXPECT_EQ(console.Application->ReadExactly(2), (std::vector<uint8_t> {'h', 'i'}));
        EXPECT_EQ(RefusalsOf(console, link).Count, 0u);
        return;
    }
    EXPECT_TRUE(WaitUntil([&] { return RefusalsOf(console, link).Count == 1; }));
    const Refusals refused = RefusalsOf(console, link);
    EXPECT_EQ(refused.Peer, shownAs);
    EXPECT_EQ(refused.Why, "not in the allow list");
    EXPECT_TRUE(row.Type == SOCK_DGRAM || WaitUntil([&] { return ClosedByConsole(peer); }));
    EXPECT_TRUE(console.Application->ReadExactly(2, 0.5).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AllowListTest,
    ::testing::Values(AllowCase {"127.0.0.2", SOCK_STREAM, "127.0.0.1", false},
                      AllowCase {"10.0.0.0/8, 127.0.0.0/30", SOCK_STREAM, "127.0.0.2", true},
                      AllowCase {"127.0.0.2", SOCK_DGRAM, "127.0.0.1", false},
                      AllowCase {"::1,127.0.0.2/32", SOCK_DGRAM, "127.0.0.2", true}),
    [](const auto& info) {
        return std::string(info.param.Type == SOCK_STREAM ? "Tcp" : "Udp") + (info.param.Taken ? "Taken" : "Refused");
    });

class ClientLimitTest : public ::testing::TestWithParam<bool> {};

// At most MaxClients at once: the next client is closed at once, counted, and none
// of its bytes reach the application; when one leaves, a new one is served. With
// TLS a client counts from its accept, before its handshake is done.
TEST_P(ClientLimitTest, TheClientBeyondTheLimitIsClosedAtOnce)
{
    const bool tls = GetParam();
    Console console;
    LinkOptions options;
    options.MaxClients = 2;
    // The clients of the TLS row never start their handshake.
    const TlsFiles& files = TlsFiles::Get();
    if (tls)
        options.Tls = {true, files.Server.Cert, files.Server.Key};
    const uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, options).Link;
    ASSERT_NE(link, nullptr) << files.Why;
    UniqueFd first = ConnectTo(port), second = ConnectTo(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 2; }));
    const UniqueFd third = ConnectTo(port);
    ASSERT_TRUE(third);
    ASSERT_TRUE(SendAll(third, {'x'}));
    EXPECT_TRUE(WaitUntil([&] { return ClosedByConsole(third); }));
    EXPECT_EQ(RefusalsOf(console, link).Why, "the limit of 2 clients is reached");
    EXPECT_EQ(RefusalsOf(console, link).Count, 1u);
    EXPECT_TRUE(console.Application->ReadExactly(1, 0.5).empty());

    first.Reset();
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 1; }));
    const UniqueFd fourth = ConnectTo(port);
    EXPECT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 2; }));
    if (!tls) {
        ASSERT_TRUE(SendAll(fourth, {'y'}));
        EXPECT_EQ(console.Application->ReadExactly(1), (std::vector<uint8_t> {'y'}));
    }
    EXPECT_FALSE(ClosedByConsole(fourth));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClientLimitTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "TlsInHandshake" : "Raw"); });

// The keepalive of a connection's descriptor: on, idle, interval, probes.
std::vector<int> KeepAlive(int fd)
{
    std::vector<int> values;
    const std::pair<int, int> options[] = {
        {SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE}, {IPPROTO_TCP, TCP_KEEPINTVL}, {IPPROTO_TCP, TCP_KEEPCNT}};
    for (auto [level, name] : options) {
        int value = -1;
        socklen_t size = sizeof value;
        getsockopt(fd, level, name, &value, &size);
        values.push_back(value);
    }
    return values;
}

// Every connection, accepted and outgoing, probes a silent peer, so one that vanished
// without a word is noticed: after 60 s idle, every 10 s, 3 times.
TEST(KeepAliveTest, AcceptedAndOutgoingConnectionsProbeTheirPeers)
{
    Console console;
    Peer server(console, Kind::TcpServer), client(console, Kind::TcpClient);
    const std::vector<int> expected {1, 60, 10, 3};
    EXPECT_EQ(console.Locked([&] {
        return KeepAlive(static_cast<TcpServerLink*>(server.Link)->Connections().front()->Socket().GetHandle());
    }), expected);
    EXPECT_EQ(console.Locked([&] { return KeepAlive(static_cast<TcpClientLink*>(client.Link)->Socket().GetHandle()); }),
              expected);
}

// A TCP connection to `port` whose receive buffer is small, so that a peer that
// never reads holds the data back soon.
UniqueFd ConnectSmall(uint16_t port)
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int size = 4096;
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    const sockaddr_in to = Loopback(port);
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        fd.Reset();
    return fd;
}

constexpr int32_t ShortStall = 1000; // for the tests: 1 s instead of 30 s

// Of two clients of a server link, one never reads: once it has taken nothing for
// the limit while data waited for it, it is closed, and the other gets every byte,
// in order.
TEST(StalledPeerTest, AServerLinkClosesTheClientThatTakesNothing)
{
    Console console;
    LinkOptions options;
    options.Limits.Stalled = ShortStall;
    const uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, options).Link;
    ASSERT_NE(link, nullptr);
    const UniqueFd reader = ConnectTo(port), sleeper = ConnectSmall(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 2; }));

    const auto data = Pattern(8 << 20, 4);
    std::thread writer([&] { console.Application->WriteAll(data, 60); });
    EXPECT_TRUE(RecvExactly(reader, data.size(), 60) == data);
    writer.join();
    EXPECT_EQ(console.ClientCount(link), 1u);
    const std::string peer = "127.0.0.1:" + std::to_string(LocalPort(sleeper));
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastError; }), peer + ": took nothing for 1 s; the others were waiting");
    const std::vector<Event> events = EventLog::Instance().Since(0);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const Event& event) {
        return event.Level == EventLevel::Warning
            && event.Text == "client " + peer + " closed: took nothing for 1 s; the others were waiting";
    })) << "the close is said in the event log";
}

// A client that leaves while it holds the data back releases it at once.
TEST(StalledPeerTest, AClientThatLeavesWhileHoldingTheDataReleasesIt)
{
    Console console;
    const uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port).Link;
    ASSERT_NE(link, nullptr);
    UniqueFd reader = ConnectTo(port), sleeper = ConnectSmall(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 2; }));
    const auto data = Pattern(8 << 20, 5);
    std::thread writer([&] { console.Application->WriteAll(data, 60); });
    std::vector<uint8_t> got;
    ASSERT_TRUE(WaitUntil([&] {
        const auto more = RecvFor(reader, 0.1);
        got.insert(got.end(), more.begin(), more.end());
        return more.empty() && !got.empty();
    }, 30)) << "the sleeper holds nothing back";
    sleeper.Reset();
    const auto rest = RecvExactly(reader, data.size() - got.size(), 30);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_TRUE(got == data);
    writer.join();
}

// A client link's peer that never reads is closed the same way, and the link
// connects again as after any failure; the data goes on to the new connection.
TEST(StalledPeerTest, AClientLinkLetsGoOfAPeerThatTakesNothingAndReconnects)
{
    Console console;
    LinkOptions options;
    options.Limits.Stalled = ShortStall;
    UniqueFd listener = Listen();
    const int size = 4096; // accepted connections take the listener's buffer size
    setsockopt(listener.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", LocalPort(listener), options).Link;
    ASSERT_NE(link, nullptr);
    console.Locked([&] { return link->SetReconnectInterval(100); });
    const UniqueFd sleeper = AcceptWithin(listener);
    ASSERT_TRUE(sleeper);

    const auto data = Pattern(8 << 20, 6);
    std::atomic<bool> written {false};
    std::thread writer([&] {
        console.Application->WriteAll(data, 60);
        written = true;
    });
    const UniqueFd next = AcceptWithin(listener, 30);
    EXPECT_TRUE(next);
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastError; }), "took nothing for 1 s; the others were waiting");
    size_t got = 0;
    WaitUntil([&] {
        got += RecvFor(next, 0.01).size();
        return written && console.Port->ToNetQueued() == 0;
    }, 60);
    writer.join();
    EXPECT_GT(got, 0u);
}

} // namespace
