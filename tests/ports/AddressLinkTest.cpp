// Links over IPv6, and links kept on one address of the machine.
#include <gtest/gtest.h>

#include <ifaddrs.h>
#include <net/if.h>

#include "links/TcpServerLink.h"
#include "links/UdpLink.h"
#include "support/LinkPeer.h"

using namespace qlntest;

namespace {

struct Ipv6Case {
    Kind Type;
    const char* Host; // what the link is given for the peer on ::1
    const char* Name;
};

class Ipv6LinkTest : public ::testing::TestWithParam<Ipv6Case> {};

TEST_P(Ipv6LinkTest, BytesCrossBothWays)
{
    if (!HasIpv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    Console console;
    Peer peer(console, GetParam().Type, AF_INET6, GetParam().Host);
    ASSERT_NE(peer.Link, nullptr);
    ASSERT_TRUE(peer.Fd);
    const auto out = AllByteValues();
    ASSERT_TRUE(console.Application->WriteAll(out));
    EXPECT_EQ(peer.Receive(out.size()), out);
    const auto in = Pattern(3000, 7);
    ASSERT_TRUE(peer.Send(in));
    EXPECT_EQ(console.Application->ReadExactly(in.size()), in);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Ipv6LinkTest,
                         ::testing::Values(Ipv6Case {Kind::TcpClient, "::1", "TcpClient"},
                                           Ipv6Case {Kind::TcpClient, "[::1]", "TcpClientBracketed"},
                                           Ipv6Case {Kind::TcpServer, nullptr, "TcpServer"},
                                           Ipv6Case {Kind::Udp, "::1", "Udp"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A server link without a listen address takes IPv4 and IPv6 clients alike, and
// names each as the address it is.
TEST(DualStackTest, ServerLinkTakesBothFamilies)
{
    if (!HasIpv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    Console console;
    const uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port).Link;
    ASSERT_NE(link, nullptr);
    UniqueFd v4 = ConnectTo(port, AF_INET);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 1; }));
    UniqueFd v6 = ConnectTo(port, AF_INET6);
    ASSERT_TRUE(v4 && v6);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 2; }));
    console.Locked([&] {
        EXPECT_EQ(link->ClientPeers().front(), "127.0.0.1:" + std::to_string(LocalPort(v4)));
        EXPECT_EQ(link->ClientPeers().back(), "[::1]:" + std::to_string(LocalPort(v6)));
        return 0;
    });
    ASSERT_TRUE(console.Application->WriteAll({'x'}));
    EXPECT_EQ(RecvExactly(v4, 1), std::vector<uint8_t> {'x'});
    EXPECT_EQ(RecvExactly(v6, 1), std::vector<uint8_t> {'x'});
}

// An IPv4 address of this machine other than the loopback, or empty.
std::string OtherLocalIpv4()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::string found;
    for (ifaddrs* entry = list; entry && found.empty(); entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
        found = text;
    }
    freeifaddrs(list);
    return found;
}

// A link given 127.0.0.1 is bound there, and a client coming to another address
// of the machine is refused.
TEST(ListenAddressTest, LoopbackKeepsTheLinkOnThisMachine)
{
    Console console;
    const LinkOptions local {"127.0.0.1", false};
    const uint16_t tcpPort = FreePort();
    const uint16_t udpPort = FreePort(SOCK_DGRAM);
    CNetObject* server = console.Port->AddTcpServer(tcpPort, CPortObject::BindFailure::Refuse, local).Link;
    CNetObject* udp =
        console.Port->AddUdp(udpPort, "127.0.0.1", 9, CPortObject::BindFailure::Refuse, local).Link;
    ASSERT_TRUE(server && udp);
    for (int fd : {console.Locked([&] { return static_cast<TcpServerLink*>(server)->Listener()->GetHandle(); }),
                   console.Locked([&] { return static_cast<UdpLink*>(udp)->Datagrams()->GetHandle(); })}) {
        const SocketAddress bound = BoundAddress(fd);
        ASSERT_EQ(bound.Storage.ss_family, AF_INET);
        EXPECT_EQ(ntohl(reinterpret_cast<const sockaddr_in*>(&bound.Storage)->sin_addr.s_addr), INADDR_LOOPBACK);
    }

    const std::string other = OtherLocalIpv4();
    if (other.empty())
        return; // only the loopback: the bound address above is all there is to see
    UniqueFd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to = Loopback(tcpPort);
    inet_pton(AF_INET, other.c_str(), &to.sin_addr);
    EXPECT_NE(connect(client.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0)
        << "reached through " << other;
    EXPECT_EQ(console.ClientCount(server), 0u);
}

// An edit that keeps the port but changes the address binds the new address; the
// old socket's hold on the port does not make it keep listening everywhere. An
// address the machine does not have leaves the old link as it was.
TEST(ListenAddressTest, AnEditToAnotherAddressRebinds)
{
    Console console;
    const uint16_t port = FreePort();
    CNetObject* old = console.Port->AddTcpServer(port).Link;
    UniqueFd client = ConnectTo(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(old) == 1; }));
    auto edit = [&](const char* address) {
        return console.Port->AddTcpServer(port, CPortObject::BindFailure::KeepAndRetry,
                                          LinkOptions {address, true}).Link;
    };
    EXPECT_FALSE(console.Port->ReplaceLink(old, edit("192.0.2.1")).Link); // an address for documentation only
    EXPECT_TRUE(console.Locked([&] { return old->IsListening() && old->ClientCount() == 1; }));
    CNetObject* fresh = edit("127.0.0.1");
    ASSERT_TRUE(old && fresh);
    ASSERT_TRUE(console.Port->ReplaceLink(old, fresh).Link);
    const SocketAddress bound = BoundAddress(console.Locked([&] { return static_cast<TcpServerLink*>(fresh)->Listener()->GetHandle(); }));
    ASSERT_EQ(bound.Storage.ss_family, AF_INET);
    EXPECT_EQ(ntohl(reinterpret_cast<const sockaddr_in*>(&bound.Storage)->sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(console.Locked([&] { return console.Port->GetNetLinks().size(); }), 1u);
}

// A stored listen address that is not numeric never falls back to every interface.
TEST(ListenAddressTest, AStoredNameWaitsNotListeningWithItsReason)
{
    Console console;
    CNetObject* link = console.Port->AddTcpServer(FreePort(), CPortObject::BindFailure::KeepAndRetry,
                                                  LinkOptions {"localhost", false}).Link;
    ASSERT_NE(link, nullptr);
    console.Locked([&] {
        EXPECT_FALSE(link->IsListening());
        EXPECT_EQ(link->Figures().LastError, "localhost is not a numeric address");
        return 0;
    });
}

} // namespace
