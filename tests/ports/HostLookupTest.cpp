// Links to host names: lookups run beside the pump, never under the lock, and the
// links use their answers once they come.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

#include "net/HostResolver.h"
#include "support/Console.h"

using namespace qlntest;

namespace {

// Stands in for the name service. Each name answers with its dotted address, or
// does not resolve; while held, a lookup takes up to `HoldLimit` unless the test
// lets it answer sooner. Shared with the resolver thread, which may outlive a test.
class FakeNames {
public:
    static constexpr auto HoldLimit = std::chrono::seconds(10);

    static std::shared_ptr<FakeNames> InstallIn(CQLNManager& manager)
    {
        auto names = std::make_shared<FakeNames>();
        manager.GetResolver().SetLookupFunction([names](const std::string& host) { return names->Look(host); });
        return names;
    }
    void Answer(const std::string& host, const std::string& dotted)
    {
        std::lock_guard<std::mutex> guard(Mutex);
        Table[host] = dotted;
    }
    void Hold(bool on)
    {
        std::lock_guard<std::mutex> guard(Mutex);
        Held = on;
        Released.notify_all();
    }
    int Calls() const { return CallCount; }
    int Answered() const { return AnswerCount; }

private:
    std::vector<NetAddress> Look(const std::string& host)
    {
        ++CallCount;
        std::unique_lock<std::mutex> guard(Mutex);
        Released.wait_for(guard, HoldLimit, [this] { return !Held; });
        // "a,b": a name with several addresses, in that order.
        std::vector<NetAddress> out;
        auto it = Table.find(host);
        for (size_t at = 0; it != Table.end() && at <= it->second.size();) {
            const size_t comma = std::min(it->second.find(',', at), it->second.size());
            NetAddress address;
            if (NetAddress::FromNumeric(it->second.substr(at, comma - at).c_str(), address))
                out.push_back(address);
            at = comma + 1;
        }
        ++AnswerCount;
        return out;
    }

    std::mutex Mutex;
    std::condition_variable Released;
    std::map<std::string, std::string> Table; // guarded by Mutex
    bool Held = false;                        // guarded by Mutex
    std::atomic<int> CallCount {0};
    std::atomic<int> AnswerCount {0};
};

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::vector<uint8_t> Up {'u', 'p'};

TEST(SlowNameServerTest, OtherPortsMoveAndTheLockStaysFreeUntilTheAnswerComes)
{
    PortsHome home;
    auto manager = std::make_unique<CQLNManager>(nullptr, "");
    ASSERT_EQ(manager->StartOnPorts({5, 6}).Text(), "");
    CQLNManager::PortList ports;
    manager->CopyPorts(&ports);
    CPortObject* waiting = ports.front();
    CPortObject* other = ports.back();
    App waitingApp(PortDriver::Instance().LinkPath(5));
    App otherApp(PortDriver::Instance().LinkPath(6));
    auto names = FakeNames::InstallIn(*manager);
    names->Answer("slow.test", "127.0.0.1");
    names->Hold(true);

    UniqueFd udpPeer = BindUdp();
    UniqueFd listener = Listen();
    auto start = std::chrono::steady_clock::now();
    ASSERT_NE(waiting->AddUdp(FreePort(SOCK_DGRAM), "slow.test", LocalPort(udpPeer)).Link, nullptr);
    CNetObject* tcp = waiting->AddTcpClient("slow.test", LocalPort(listener)).Link;
    ASSERT_NE(tcp, nullptr);
    {
        // As the configuration loader does: the first attempt is the only one.
        CGuard guard(manager->Lock());
        tcp->SetAutoReconnect(false);
    }
    EXPECT_LT(SecondsSince(start), 0.5) << "adding the links waited for the name server";
    ASSERT_TRUE(waitingApp.WriteAll(Up));

    // While the lookup is under way: the other port moves bytes both ways...
    uint16_t serverPort = FreePort();
    CNetObject* server = other->AddTcpServer(serverPort).Link;
    UniqueFd client = ConnectTo(serverPort);
    ASSERT_TRUE(WaitUntil([&] { CGuard guard(manager->Lock()); return server->ClientCount() == 1; }));
    ASSERT_TRUE(otherApp.WriteAll({'o', 'k'}));
    EXPECT_EQ(RecvExactly(client, 2), (std::vector<uint8_t>{'o', 'k'}));
    ASSERT_TRUE(SendAll(client, {'i', 'n'}));
    EXPECT_EQ(otherApp.ReadExactly(2), (std::vector<uint8_t>{'i', 'n'}));
    // ...the window gets the lock at once, and a link that goes abandons its lookup.
    start = std::chrono::steady_clock::now();
    {
        CGuard guard(manager->Lock());
        EXPECT_EQ(tcp->GetLinkState(), LinkState::Unconnected);
    }
    EXPECT_LT(SecondsSince(start), 0.5) << "the lock was held during a lookup";
    waiting->RemoveLink(waiting->AddTcpClient("slow.test", 9).Link);
    EXPECT_EQ(names->Answered(), 0) << "the name server answered before the checks ended";

    names->Hold(false);
    UniqueFd peer = AcceptWithin(listener);
    ASSERT_TRUE(peer) << "the client did not connect once the name resolved";
    EXPECT_EQ(RecvExactly(udpPeer, 2), Up);
    EXPECT_EQ(RecvExactly(peer, 2), Up);
    EXPECT_EQ(names->Calls(), 2) << "one lookup per link, none for the link that went";
    manager.reset();
}

// A host that does not resolve, or whose lookup does not end, holds the port's
// bytes without making the pump spin; lookups are paced (a UDP link asks once a
// second, a TCP client at its reconnect interval), and the bytes go once the name
// resolves.
struct UnresolvedCase {
    NetKind Kind;
    const char* Host;
    bool Held; // the name server does not answer during the second watched
    int MaxLookupsPerSecond;
};

class UnresolvedHostTest : public ::testing::TestWithParam<UnresolvedCase> {};

TEST_P(UnresolvedHostTest, PumpStaysQuietAndBytesGoOnceTheNameResolves)
{
    const UnresolvedCase& c = GetParam();
    Console console;
    auto names = FakeNames::InstallIn(*console.Manager);
    names->Hold(c.Held);
    UniqueFd peer = c.Kind == NetKind::Udp ? BindUdp() : Listen();
    if (c.Kind == NetKind::Udp) {
        ASSERT_NE(console.Port->AddUdp(FreePort(SOCK_DGRAM), c.Host, LocalPort(peer)).Link, nullptr);
    } else {
        CNetObject* link = console.Port->AddTcpClient(c.Host, LocalPort(peer)).Link;
        console.Locked([&] { return link->SetReconnectInterval(200); });
    }
    ASSERT_TRUE(console.Application->WriteAll(Up));
    ASSERT_TRUE(WaitUntil([&] { return console.Port->ToNetQueued() == 2 && names->Calls() > 0; }));

    uint64_t passes = console.Manager->PassCount();
    int lookups = names->Calls();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(console.Manager->PassCount() - passes, 50u) << "the pump spins while the host does not resolve";
    EXPECT_LE(names->Calls() - lookups, c.MaxLookupsPerSecond);
    names->Answer(c.Host, "127.0.0.1");
    names->Hold(false);
    if (c.Kind == NetKind::Udp) {
        EXPECT_EQ(RecvExactly(peer, 2), Up);
    } else {
        UniqueFd accepted = AcceptWithin(peer);
        EXPECT_EQ(RecvExactly(accepted, 2), Up);
    }
}

INSTANTIATE_TEST_SUITE_P(Links, UnresolvedHostTest,
                         ::testing::Values(UnresolvedCase {NetKind::Udp, "later.test", false, 3},
                                           UnresolvedCase {NetKind::TcpClient, "later.test", false, 7},
                                           UnresolvedCase {NetKind::Udp, "later.test", true, 0},
                                           UnresolvedCase {NetKind::TcpClient, "later.test", true, 0}),
                         [](const ::testing::TestParamInfo<UnresolvedCase>& info) {
                             return std::string(info.param.Kind == NetKind::Udp ? "Udp" : "TcpClient")
                                    + (info.param.Held ? "_SlowName" : "_Name");
                         });

TEST(HostCacheTest, NumericHostsAreNeverLookedUpAndAFailedConnectionAsksAgain)
{
    Console console;
    auto names = FakeNames::InstallIn(*console.Manager);
    UniqueFd udpPeer = BindUdp();
    UniqueFd listener = Listen();
    ASSERT_NE(console.Port->AddUdp(FreePort(SOCK_DGRAM), "127.0.0.1", LocalPort(udpPeer)).Link, nullptr);
    CNetObject* numeric = console.Port->AddTcpClient("127.0.0.1", LocalPort(listener)).Link;
    UniqueFd first = AcceptWithin(listener);
    ASSERT_TRUE(first);
    ASSERT_TRUE(console.Application->WriteAll(Up));
    EXPECT_EQ(RecvExactly(udpPeer, 2), Up);
    EXPECT_EQ(RecvExactly(first, 2), Up);
    EXPECT_EQ(names->Calls(), 0);
    console.Port->RemoveLink(numeric);

    // The name first points where nobody listens; the refused connection makes the
    // link ask again instead of trying the cached address for the next 30 s.
    names->Answer("moving.test", "127.0.0.2");
    CNetObject* moving = console.Port->AddTcpClient("moving.test", LocalPort(listener)).Link;
    console.Locked([&] { return moving->SetReconnectInterval(100); });
    ASSERT_TRUE(WaitUntil([&] { return console.Locked([&] { return moving->LastFailTime != 0; }); }));
    names->Answer("moving.test", "127.0.0.1");
    UniqueFd second = AcceptWithin(listener);
    EXPECT_TRUE(second);
    EXPECT_GE(names->Calls(), 2);
}

// A name whose first address refuses: the next is tried at once, not after the
// reconnect interval.
TEST(HostCacheTest, EveryAddressOfANameIsTriedInTurn)
{
    Console console;
    auto names = FakeNames::InstallIn(*console.Manager);
    UniqueFd listener = Listen();
    names->Answer("two.test", "127.0.0.2,127.0.0.1");
    CNetObject* link = console.Port->AddTcpClient("two.test", LocalPort(listener)).Link;
    console.Locked([&] { return link->SetReconnectInterval(60000); });
    UniqueFd peer = AcceptWithin(listener, 5);
    ASSERT_TRUE(peer);
    ASSERT_TRUE(WaitUntil([&] { return console.State(link) == LinkState::Connected; }));
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastError; }), "Connection refused");
    EXPECT_EQ(names->Calls(), 1);
}

} // namespace
