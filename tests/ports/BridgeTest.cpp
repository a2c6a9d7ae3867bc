// Bytes end to end: an application on COM<n>, a peer on each kind of link, through
// the manager's pump thread.
#include <gtest/gtest.h>

#include "support/LinkPeer.h"

using namespace qlntest;

namespace {

struct BridgeCase {
    Kind Type;
    size_t Size;
};

class BridgeTest : public ::testing::TestWithParam<BridgeCase> {};

TEST_P(BridgeTest, BytesCrossWholeAndInOrderBothWays)
{
    Console console;
    ASSERT_TRUE(console.Started);
    ASSERT_TRUE(console.Application->Ok());
    Peer peer(console, GetParam().Type);
    ASSERT_NE(peer.Link, nullptr);
    ASSERT_TRUE(peer.Fd);

    auto out = Pattern(GetParam().Size, 3);
    if (out.size() >= 256)
        std::copy_n(AllByteValues().begin(), 256, out.begin());
    ASSERT_TRUE(console.Application->WriteAll(out));
    EXPECT_EQ(peer.Receive(out.size()), out);

    auto in = Pattern(GetParam().Size, 5);
    ASSERT_TRUE(peer.Send(in));
    EXPECT_EQ(console.Application->ReadExactly(in.size()), in);

    // The figures the window and the command line show count every byte once.
    console.Locked([&] {
        EXPECT_EQ(peer.Link->Figures().BytesSent, out.size());
        EXPECT_EQ(peer.Link->Figures().BytesReceived, in.size());
        return 0;
    });
    EXPECT_EQ(console.Port->GetBytesFromApplication(), out.size());
    EXPECT_EQ(console.Port->GetBytesToApplication(), in.size());
}

std::vector<BridgeCase> AllCases()
{
    std::vector<BridgeCase> cases;
    for (Kind kind : {Kind::TcpServer, Kind::TcpClient, Kind::Udp})
        for (size_t size : {size_t(1), size_t(256), size_t(8192), size_t(100000)})
            cases.push_back({kind, size});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<BridgeCase>& info)
{
    const char* names[] = {"TcpServer", "TcpClient", "Udp"};
    return std::string(names[static_cast<int>(info.param.Type)]) + "_" + std::to_string(info.param.Size);
}

INSTANTIATE_TEST_SUITE_P(KindsAndSizes, BridgeTest, ::testing::ValuesIn(AllCases()), CaseName);

TEST(ServerLinkTest, EveryClientGetsEveryByteOnceAndEachClientsBytesArriveWhole)
{
    Console console;
    uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port).Link;
    ASSERT_NE(link, nullptr);
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(ConnectTo(port));
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 3; }));

    auto out = Pattern(50000, 9);
    ASSERT_TRUE(console.Application->WriteAll(out));
    for (const UniqueFd& fd : clients) {
        EXPECT_EQ(RecvExactly(fd, out.size()), out);
        EXPECT_TRUE(RecvFor(fd, 0.05).empty()) << "nothing is sent twice";
    }

    // Each client sends one block smaller than a read; each block reaches the port whole.
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t i = 0; i < clients.size(); ++i) {
        blocks.push_back(std::vector<uint8_t>(1000, static_cast<uint8_t>('a' + i)));
        ASSERT_TRUE(SendAll(clients[i], blocks.back()));
    }
    auto got = console.Application->ReadExactly(3000);
    ASSERT_EQ(got.size(), 3000u);
    for (size_t i = 0; i < 3000; i += 1000)
        EXPECT_TRUE(std::all_of(got.begin() + i, got.begin() + i + 1000, [&](uint8_t b) { return b == got[i]; }));
    clients.clear();
    EXPECT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 0; }));
}

TEST(ServerLinkTest, WithoutClientsTheChunkIsDropped)
{
    Console console;
    CNetObject* link = console.Port->AddTcpServer(FreePort()).Link;
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(console.Application->WriteAll({'x', 'y'}));
    EXPECT_TRUE(WaitUntil([&] {
        return console.Port->GetBytesFromApplication() == 2 && console.Port->ToNetQueued() == 0;
    }));
    // A client that connects later does not get old bytes.
    UniqueFd fd = ConnectTo(static_cast<uint16_t>(console.Locked([&] { return link->Settings().LocalPort; })));
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(link) == 1; }));
    ASSERT_TRUE(console.Application->WriteAll({'z'}));
    EXPECT_EQ(RecvExactly(fd, 1), std::vector<uint8_t>{'z'});
}

TEST(DelayTest, BytesWaitAtLeastTheDelayInBothDirections)
{
    // The tick counter counts whole milliseconds, so a stamp taken late in one
    // millisecond makes the wait up to 1 ms shorter in real time.
    const auto MinimumWait = std::chrono::milliseconds(149);
    Console console;
    Peer peer(console, Kind::TcpClient);
    console.Port->SetSendToNetDelayTime(150);
    console.Port->SetReceiveFromNetDelayTime(150);

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(console.Application->WriteAll({'a', 'b', 'c'}));
    EXPECT_EQ(peer.Receive(3), (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, MinimumWait);

    start = std::chrono::steady_clock::now();
    ASSERT_TRUE(peer.Send({'1'}));
    ASSERT_TRUE(peer.Send({'2'})); // joins the burst: waits no longer than the first
    EXPECT_EQ(console.Application->ReadExactly(2), (std::vector<uint8_t>{'1', '2'}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, MinimumWait);
}

} // namespace
