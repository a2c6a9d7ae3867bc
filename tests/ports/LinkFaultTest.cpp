// Links under faults: late and lost peers, refusals, resets, bad names, busy ports,
// bursts of clients and peers that stop reading. The console keeps running and
// loses nothing.
#include <gtest/gtest.h>

#include "support/Console.h"
#include "support/LinkPeer.h"
#include "support/ProcessStats.h"

using namespace qlntest;

namespace {

TEST(TcpClientLinkTest, ConnectsLateIsClosedByItsPeerAndReconnects)
{
    Console console;
    uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", port).Link;
    ASSERT_NE(link, nullptr);
    console.Locked([&] { link->SetReconnectInterval(100); return 0; });
    // Refused: nobody listens yet.
    ASSERT_TRUE(WaitUntil([&] { return console.Locked([&] { return link->LastFailTime != 0; }); }));
    // The failure is kept as the system said it, errno and all.
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastError.What().Errno; }), ECONNREFUSED);
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastError.Text(); }), "Connection refused");
    ASSERT_TRUE(console.Application->WriteAll({'e', 'a', 'r', 'l', 'y'}));

    UniqueFd listener = Listen(port);
    ASSERT_TRUE(listener);
    UniqueFd peer = AcceptWithin(listener);
    ASSERT_TRUE(peer);
    EXPECT_EQ(RecvExactly(peer, 5), (std::vector<uint8_t>{'e', 'a', 'r', 'l', 'y'}));
    EXPECT_TRUE(WaitUntil([&] { return console.State(link) == LinkState::Connected; }));

    // The peer goes; the link notices, waits its interval and comes back.
    peer.Reset();
    EXPECT_TRUE(WaitUntil([&] { return console.State(link) != LinkState::Connected; }));
    UniqueFd again = AcceptWithin(listener);
    ASSERT_TRUE(again);
    ASSERT_TRUE(console.Application->WriteAll({'!'}));
    EXPECT_EQ(RecvExactly(again, 1), std::vector<uint8_t>{'!'});
}

TEST(TcpClientLinkTest, WithoutAutoReconnectWaitsForTheUser)
{
    Console console;
    uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", port).Link;
    console.Locked([&] { link->SetAutoReconnect(false); link->SetReconnectInterval(1); return 0; });
    ASSERT_TRUE(WaitUntil([&] { return console.State(link) == LinkState::Unconnected; }));
    UniqueFd listener = Listen(port);
    pollfd p {listener.Get(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 100), 0) << "no attempt by itself";
    console.Port->Reconnect(link);
    EXPECT_TRUE(AcceptWithin(listener));
}

TEST(TcpClientLinkTest, NameThatDoesNotResolveLeavesTheLinkAndThePortWorking)
{
    Console console;
    CNetObject* bad = console.Port->AddTcpClient("no..such.host", 80).Link;
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(console.State(bad), LinkState::Unconnected);
    console.Port->RemoveLink(bad);
    uint16_t port = FreePort();
    CNetObject* server = console.Port->AddTcpServer(port).Link;
    ASSERT_NE(server, nullptr);
    UniqueFd client = ConnectTo(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 1; }));
    ASSERT_TRUE(console.Application->WriteAll({'o', 'k'}));
    EXPECT_EQ(RecvExactly(client, 2), (std::vector<uint8_t>{'o', 'k'}));
}

TEST(BusyPumpTest, UnconnectedLinkHoldingBytesDoesNotSpinThePump)
{
    Console console;
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", FreePort()).Link;
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return console.State(link) == LinkState::Unconnected; }));
    ASSERT_TRUE(console.Application->WriteAll({'w', 'a', 'i', 't'}));
    ASSERT_TRUE(WaitUntil([&] { return console.Port->ToNetQueued() == 4; }));
    uint64_t before = console.Manager->PassCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(console.Manager->PassCount() - before, 20u) << "the pump spins while the host is down";
}

TEST(PortInUseTest, SecondListenerAndSecondUdpBindAreRefusedAndLeaveNothing)
{
    Console console;
    UniqueFd listener = Listen();
    UniqueFd udp = BindUdp();
    EXPECT_EQ(console.Port->AddTcpServer(LocalPort(listener)).Link, nullptr);
    EXPECT_EQ(console.Port->AddUdp(LocalPort(udp), "127.0.0.1", 9).Link, nullptr);
    EXPECT_EQ(console.Port->AddTcpClient(nullptr, 9).Link, nullptr);
    EXPECT_EQ(console.Port->AddTcpClient("127.0.0.1", 0).Link, nullptr);
    EXPECT_EQ(console.Port->AddTcpServer(0).Link, nullptr);
    EXPECT_EQ(console.Port->AddUdp(0, "127.0.0.1", 9).Link, nullptr);
    EXPECT_EQ(console.Locked([&] { return console.Port->GetNetLinks().size(); }), 0u);
}

// Links kept while their local ports are taken (as the configuration load keeps
// them) hold back nothing of the port and leave the pump idle; once their ports are
// free they bind and serve.
TEST(PortInUseTest, KeptLinksWaitIdleForTheirPortsThenServe)
{
    Console console;
    UniqueFd taken[] = {Listen(), BindUdp()};
    const uint16_t tcp = LocalPort(taken[0]);
    const UniqueFd udpPeer = BindUdp(), clientListener = Listen();
    const auto keep = CPortObject::BindFailure::KeepAndRetry;
    CNetObject* links[] = {console.Port->AddTcpServer(tcp, keep).Link,
                           console.Port->AddUdp(LocalPort(taken[1]), "127.0.0.1", LocalPort(udpPeer), keep).Link};
    auto listening = [&] { return console.Locked([&] { return links[0]->IsListening() + links[1]->IsListening(); }); };
    EXPECT_EQ(listening(), 0);
    for (CNetObject* link : links)
        EXPECT_EQ(console.Locked([&] { return link->Figures().LastError.What().Errno; }), EADDRINUSE);

    console.Port->AddTcpClient("127.0.0.1", LocalPort(clientListener));
    const UniqueFd peer = AcceptWithin(clientListener);
    ASSERT_TRUE(console.Application->WriteAll({'a'}));
    EXPECT_EQ(RecvExactly(peer, 1), std::vector<uint8_t>{'a'});
    const uint64_t before = console.Manager->PassCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(console.Manager->PassCount() - before, 20u) << "the pump spins while the ports are taken";

    for (UniqueFd& fd : taken)
        fd.Reset();
    ASSERT_TRUE(WaitUntil([&] { return listening() == 2; }, 20));
    const UniqueFd client = ConnectTo(tcp);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(links[0]) == 1; }));
    ASSERT_TRUE(console.Application->WriteAll({'b'}));
    for (int fd : {peer.Get(), client.Get(), udpPeer.Get()})
        EXPECT_EQ(RecvExactly(fd, 1), std::vector<uint8_t>{'b'});
}

TEST(UdpLinkTest, EmptyDatagramNeitherClosesTheLinkNorStallsTheNext)
{
    Console console;
    Peer peer(console, Kind::Udp);
    ASSERT_NE(peer.Link, nullptr);
    ASSERT_EQ(sendto(peer.Fd.Get(), "", 0, 0, peer.Remote.Get(), peer.Remote.Length), 0);
    ASSERT_EQ(sendto(peer.Fd.Get(), "x", 1, 0, peer.Remote.Get(), peer.Remote.Length), 1);
    EXPECT_EQ(console.Application->ReadExactly(1), std::vector<uint8_t>{'x'});
    ASSERT_TRUE(console.Application->WriteAll({'y'}));
    EXPECT_EQ(peer.Receive(1), std::vector<uint8_t>{'y'});
}

TEST(ServerLinkFaultTest, PeerThatResetsIsDroppedAndOthersGoOn)
{
    Console console;
    Peer good(console, Kind::TcpServer);
    CNetObject* server = good.Link;
    UniqueFd bad = ConnectTo(static_cast<uint16_t>(console.Locked([&] { return server->Settings().LocalPort; })));
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 2; }));
    linger hard {1, 0};
    setsockopt(bad.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    bad.Reset(); // RST
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 1; }));
    ASSERT_TRUE(console.Application->WriteAll({'s', 't', 'i', 'l', 'l'}));
    EXPECT_EQ(good.Receive(5), (std::vector<uint8_t>{'s', 't', 'i', 'l', 'l'}));
}

TEST(ServerLinkFaultTest, BurstOfAThousandConnections)
{
    if (HardOpenFileLimit() < 2200)
        GTEST_SKIP() << "the hard open-file limit (" << HardOpenFileLimit() << ") cannot hold both ends";
    Console console;
    uint16_t port = FreePort();
    CNetObject* server = console.Port->AddTcpServer(port).Link;
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 1000; ++i) {
        UniqueFd fd = ConnectTo(port);
        ASSERT_TRUE(fd) << "connection " << i << ": " << strerror(errno);
        clients.push_back(std::move(fd));
    }
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 1000; }, 30));
    ASSERT_TRUE(console.Application->WriteAll({'!'}));
    for (const UniqueFd& fd : clients)
        ASSERT_EQ(RecvExactly(fd, 1), std::vector<uint8_t>{'!'});
    clients.clear();
    EXPECT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 0; }, 30));
}

TEST(SlowPeerTest, PeerThatStopsReadingLosesNothing)
{
    Console console;
    Peer peer(console, Kind::TcpClient);
    int small = 65536;
    setsockopt(peer.Fd.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    auto data = Pattern(3 << 20, 11);
    std::thread writer([&] { console.Application->WriteAll(data, 60); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the peer sleeps
    auto got = RecvExactly(peer.Fd, data.size(), 60);
    ASSERT_EQ(got.size(), data.size());
    auto diff = std::mismatch(got.begin(), got.end(), data.begin());
    EXPECT_TRUE(diff.first == got.end()) << "first difference at " << (diff.first - got.begin());
    writer.join();
}

} // namespace

namespace {

// An application that stops reading must not make the console queue everything a
// TCP peer sends: the peer is held back by TCP, and nothing is lost once the
// application reads again.
TEST(SlowApplicationTest, TcpPeerIsHeldBackAndNothingIsLost)
{
    Console console;
    Peer peer(console, Kind::TcpServer);
    ASSERT_EQ(console.ClientCount(peer.Link), 1u);

    auto data = Pattern(32 << 20, 13);
    size_t sent = 0;
    // Send until the console stops taking bytes for a while.
    auto lastProgress = std::chrono::steady_clock::now();
    while (sent < data.size()
           && std::chrono::steady_clock::now() - lastProgress < std::chrono::milliseconds(300)) {
        ssize_t n = send(peer.Fd.Get(), data.data() + sent, std::min<size_t>(65536, data.size() - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            lastProgress = std::chrono::steady_clock::now();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_LT(sent, data.size()) << "the console took everything";
    EXPECT_LT(console.Port->FromNetQueued(), size_t(16) << 20);

    std::thread sender([&] { SendAll(peer.Fd, std::vector<uint8_t>(data.begin() + sent, data.end()), 60); });
    auto got = console.Application->ReadExactly(data.size(), 60);
    sender.join();
    ASSERT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

} // namespace
