// The pump serves what its wait reports: many ports at once, a console at rest, and a
// traffic log whose file is moved or deleted under it.
#include <gtest/gtest.h>

#include <cstdio>

#include "forwarding/PortObject.h"
#include "support/LinkPeer.h"

using namespace qlntest;

namespace {

// An idle console with every kind of link makes no passes, also while the window
// reads the lock five times a second as its refresh does.
TEST(EventPumpTest, AnIdleConsoleMakesNoPassesWhileTheWindowReads)
{
    Console console;
    Peer server(console, Kind::TcpServer);
    Peer client(console, Kind::TcpClient);
    Peer udp(console, Kind::Udp);
    ASSERT_TRUE(console.Application->WriteAll({'g', 'o'}));
    for (Peer* peer : {&server, &client, &udp})
        ASSERT_EQ(peer->Receive(2), (std::vector<uint8_t>{'g', 'o'}));

    const uint64_t before = console.Manager->PassCount();
    for (int i = 0; i < 5; ++i) {
        console.Locked([&] { return client.Link->Changed = false; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_LE(console.Manager->PassCount() - before, 1u);

    // The application lets go: the master is no longer waited on (it would report
    // its hang-up for ever).
    console.Application->Close();
    ASSERT_TRUE(WaitUntil([&] { return !IsOpenedByApplication(console.Port); }));
    EXPECT_LE(PassesOver(*console.Manager, 0.5), 3u);
}

// 64 ports, each with its own peer, each application writing a little at a time:
// every byte reaches its own peer once and in order.
TEST(EventPumpTest, SixtyFourTricklingPortsDeliverEveryByteOnceInOrder)
{
    constexpr int Count = 64;
    PortsHome home;
    CQLNManager manager(nullptr, "");
    std::vector<int> numbers;
    for (int i = 0; i < Count; ++i)
        numbers.push_back(100 + i);
    ASSERT_EQ(manager.StartOnPorts(numbers).Text(), "");
    CQLNManager::PortList list;
    manager.CopyPorts(&list);
    std::vector<CPortObject*> ports(list.begin(), list.end());

    std::vector<UniqueFd> peers;
    std::vector<std::unique_ptr<App>> apps;
    for (CPortObject* port : ports) {
        const uint16_t listen = FreePort();
        CNetObject* link = port->AddTcpServer(listen).Link;
        ASSERT_NE(link, nullptr);
        peers.push_back(ConnectTo(listen));
        apps.push_back(std::make_unique<App>(PortDriver::Instance().LinkPath(port->GetPortNumber())));
        ASSERT_TRUE(WaitUntil([&] {
            CGuard guard(manager.Lock());
            return link->ClientCount() == 1;
        }));
    }
    constexpr size_t Rounds = 40;
    constexpr size_t Piece = 16;
    for (size_t round = 0; round < Rounds; ++round) {
        for (int i = 0; i < Count; ++i) {
            auto piece = Pattern(Rounds * Piece, i);
            ASSERT_TRUE(apps[i]->WriteAll({piece.begin() + round * Piece, piece.begin() + (round + 1) * Piece}));
        }
    }
    for (int i = 0; i < Count; ++i) {
        EXPECT_EQ(RecvExactly(peers[i], Rounds * Piece), Pattern(Rounds * Piece, i)) << "port " << i;
        EXPECT_TRUE(RecvFor(peers[i], 0.01).empty()) << "nothing twice, port " << i;
    }
}

// Records go on to a new file at the log's path once the old one was deleted or
// moved away; no record is lost or written twice.
class MovedLogTest : public ::testing::TestWithParam<bool> {};

TEST_P(MovedLogTest, LaterRecordsGoToANewFileAtThePath)
{
    const bool deleted = GetParam();
    Console console;
    Peer peer(console, Kind::Udp);
    const std::string path = console.Home.File("traffic.log");
    const std::string moved = console.Home.File("moved.log");
    console.Port->SetLogFile(path.c_str());

    auto sendOne = [&](char c) {
        ASSERT_TRUE(console.Application->WriteAll({static_cast<uint8_t>(c)}));
        ASSERT_EQ(peer.Receive(1), std::vector<uint8_t>{static_cast<uint8_t>(c)});
    };
    sendOne('a');
    ASSERT_TRUE(WaitUntil([&] { return FileText(path) == "O:a"; }));
    if (deleted)
        ASSERT_EQ(std::remove(path.c_str()), 0);
    else
        ASSERT_EQ(std::rename(path.c_str(), moved.c_str()), 0);

    // A move is noticed within a second: until then records may still go to the
    // moved file.
    std::string sent = "a";
    for (char c = 'b'; FileText(path).empty() && c <= 'z'; ++c) {
        sendOne(c);
        sent += c;
        WaitUntil([&] { return !FileText(path).empty(); }, 0.1);
    }
    ASSERT_FALSE(FileText(path).empty());
    std::string records = (deleted ? std::string("O:a") : FileText(moved)) + FileText(path);
    std::string expected;
    for (char c : sent)
        expected += std::string("O:") + c;
    EXPECT_EQ(records, expected);
    if (deleted) {
        EXPECT_EQ(FileText(path), "O:b") << "a deletion is seen at the next record";
    }
}

INSTANTIATE_TEST_SUITE_P(DeletedOrMoved, MovedLogTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Deleted" : "Moved"; });

} // namespace
