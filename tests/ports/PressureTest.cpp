// Links under pressure from their peers: a peer that stops reading, peers that come
// and go while the application is behind, a datagram flood, a reconnect interval
// of 0. The pump rests instead of spinning, lets go of what is gone, stays within
// its memory and loses nothing it has taken.
#include <gtest/gtest.h>

#include <map>

#include "support/LinkPeer.h"
#include "support/ProcessStats.h"

using namespace qlntest;

namespace {

struct NonReadingCase {
    const char* Name;
    Kind Type;
    bool Rfc2217; // the peer says nothing, so it gets the offers and the data escaped
};

class NonReadingPeerTest : public ::testing::TestWithParam<NonReadingCase> {};

TEST_P(NonReadingPeerTest, PumpRestsUntilThePeerReadsAndNothingIsLost)
{
    Console console;
    Peer peer(console, GetParam().Type, AF_INET, nullptr, {"", GetParam().Rfc2217});
    ASSERT_TRUE(peer.Fd);
    // Small, but not below a loopback segment: that would stall TCP itself.
    int small = 65536;
    setsockopt(peer.Fd.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    auto data = Pattern(8 << 20, 21);
    std::thread writer([&] { console.Application->WriteAll(data, 120); });

    // Once the socket is full every send would block: no pass has work. (A pump that
    // a loaded machine starves before the socket fills rests too: the port must hold.)
    EXPECT_TRUE(WaitUntil(
        [&] { return PassesOver(*console.Manager, 0.2) < 10 && console.Port->ToNetQueued() > 0; }, 20))
        << "the pump spins on a peer that does not read";

    std::vector<uint8_t> wire;
    for (uint8_t byte : data) {
        wire.push_back(byte);
        if (GetParam().Rfc2217 && byte == 0xFF)
            wire.push_back(byte);
    }
    // Telnet's five option offers (IAC, verb, option) come before the data.
    const size_t offers = GetParam().Rfc2217 ? 15 : 0;
    const auto got = RecvExactly(peer.Fd, offers + wire.size(), 120);
    writer.join();
    ASSERT_EQ(got.size(), offers + wire.size());
    for (size_t i = 0; i < offers; i += 3)
        EXPECT_EQ(got[i], 0xFF);
    EXPECT_TRUE(std::equal(wire.begin(), wire.end(), got.begin() + static_cast<std::ptrdiff_t>(offers)))
        << "the data came changed";
}

INSTANTIATE_TEST_SUITE_P(TcpLinks, NonReadingPeerTest,
                         ::testing::Values(NonReadingCase {"Server", Kind::TcpServer, false},
                                           NonReadingCase {"Client", Kind::TcpClient, false},
                                           NonReadingCase {"ServerRfc2217", Kind::TcpServer, true},
                                           NonReadingCase {"ClientRfc2217", Kind::TcpClient, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// While the application is behind, a server link's clients are not read; those
// that reset or close with nothing left are let go at once, one that closed with
// bytes unread keeps them, and all that was taken reaches the application once.
TEST(BehindApplicationTest, ClientsThatLeaveAreLetGoAndUnreadBytesAreKept)
{
    Console console;
    console.Application->Close();
    uint16_t port = FreePort();
    CNetObject* server = console.Port->AddTcpServer(port).Link;
    const int Pushers = 200;
    const size_t Each = 64 << 10;
    std::vector<UniqueFd> pushers;
    for (int i = 0; i < Pushers; ++i)
        pushers.push_back(ConnectTo(port));
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == Pushers; }, 30));
    for (int i = 0; i < Pushers; ++i)
        ASSERT_TRUE(SendAll(pushers[i], std::vector<uint8_t>(Each, static_cast<uint8_t>(i))));
    ASSERT_TRUE(WaitUntil([&] { return console.Port->FromNetQueued() >= CPortObject::FromNetHighWater; }));
    EXPECT_LE(console.Port->FromNetQueued(), CPortObject::FromNetHighWater + Each)
        << "read past the mark within one pass over the clients";

    const int descriptors = DescriptorCount();
    for (int i = 0; i < 300; ++i) {
        const UniqueFd fd = ConnectTo(port);
        linger reset {1, 0};
        if (i % 2)
            setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    EXPECT_TRUE(WaitUntil([&] {
        return console.ClientCount(server) == Pushers && DescriptorCount() <= descriptors + 2;
    }, 30)) << console.ClientCount(server) << " clients, " << DescriptorCount() - descriptors << " descriptors more";

    UniqueFd last = ConnectTo(port);
    ASSERT_TRUE(SendAll(last, std::vector<uint8_t>(1000, 250)));
    shutdown(last.Get(), SHUT_WR);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == Pushers + 1; }));
    EXPECT_LT(PassesOver(*console.Manager, 0.3), 10u) << "spins on the half-closed client";
    EXPECT_EQ(console.ClientCount(server), size_t(Pushers + 1)) << "a client with unread bytes was let go";

    App application(PortDriver::Instance().LinkPath(4));
    auto got = application.ReadExactly(Pushers * Each + 1000, 120);
    std::map<uint8_t, size_t> counts;
    for (uint8_t b : got)
        ++counts[b];
    EXPECT_EQ(counts[250], 1000u);
    for (int i = 0; i < Pushers; ++i)
        EXPECT_EQ(counts[static_cast<uint8_t>(i)], Each) << "client " << i;
    EXPECT_TRUE(WaitUntil([&] { return console.ClientCount(server) == Pushers; })) << "the half-closed client stays";
    pushers.clear();
    last.Reset();
    EXPECT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 0; }, 30));
}

TEST(UdpCapTest, FloodWithNoApplicationIsCappedCountedAndGivenBack)
{
    Console console;
    console.Application->Close();
    UniqueFd peer = BindUdp();
    uint16_t local = FreePort(SOCK_DGRAM);
    ASSERT_NE(console.Port->AddUdp(local, "127.0.0.1", LocalPort(peer)).Link, nullptr);
    const sockaddr_in to = Loopback(local);
    const size_t Size = 8192, Kept = CPortObject::FromNetUdpCap / Size, Dropped = 300;
    std::vector<uint8_t> expected;
    expected.reserve(Kept * Size);
    const long resident = ResidentKiB();

    for (size_t i = 0; i < Kept + Dropped; ++i) {
        auto datagram = Pattern(Size, static_cast<uint32_t>(i));
        if (i < Kept)
            expected.insert(expected.end(), datagram.begin(), datagram.end());
        ASSERT_EQ(sendto(peer.Get(), datagram.data(), Size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), ssize_t(Size));
        // In small batches, so the system's own buffer never drops one.
        if (i % 8 == 7 || i + 1 == Kept + Dropped) {
            ASSERT_TRUE(WaitUntil([&] {
                return console.Port->FromNetQueued() / Size + console.Port->GetDroppedDatagrams() == i + 1;
            }));
        }
    }
    EXPECT_EQ(console.Port->FromNetQueued(), Kept * Size);
    EXPECT_EQ(console.Port->GetDroppedDatagrams(), Dropped);

    App application(PortDriver::Instance().LinkPath(4));
    EXPECT_TRUE(application.ReadExactly(expected.size(), 60) == expected);
    EXPECT_TRUE(application.ReadExactly(1, 0.1).empty()) << "a dropped datagram reached the application";
    ASSERT_TRUE(WaitUntil([&] { return console.Port->FromNetQueued() == 0; }));
    std::vector<uint8_t>().swap(expected);
    if (ResidentSizeMeaningful) {
        EXPECT_LT(ResidentKiB(), resident + 1024) << "the drained queue's memory is not given back";
    }
}

class ReconnectFloorTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(ReconnectFloorTest, AttemptsComeAtMostEveryTenthOfASecond)
{
    Console console;
    UniqueFd listener = Listen();
    fcntl(listener.Get(), F_SETFL, O_NONBLOCK);
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", LocalPort(listener)).Link;
    console.Locked([&] { link->SetReconnectInterval(GetParam()); return 0; });

    // A peer that takes every connection and closes it at once.
    int accepted = 0;
    WaitUntil([&] {
        const UniqueFd fd(accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        accepted += fd.Valid();
        return false;
    }, 1.0);
    EXPECT_GE(accepted, 3) << "it still reconnects";
    EXPECT_LT(accepted, 30);

    // Nobody listening: each attempt is refused at once.
    listener.Reset();
    EXPECT_LT(PassesOver(*console.Manager, 1.0), 200u);
    EXPECT_EQ(console.Locked([&] { return link->Settings().ReconnectIntervalTime; }), GetParam()) << "the setting is kept";
}

INSTANTIATE_TEST_SUITE_P(IntervalsBelowTheFloor, ReconnectFloorTest, ::testing::Values(0, -1000),
                         [](const auto& info) { return info.param == 0 ? std::string("Zero") : std::string("Negative"); });

} // namespace
