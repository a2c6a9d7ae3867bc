// A port's traffic as its monitors see it, on the real pump: every byte in order for a
// monitor that keeps up, one record per sender, and a monitor that never takes
// holding nothing up.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/Console.h"

using namespace qlntest;

namespace {

class MonitorTest : public ::testing::Test {
protected:
    // The records taken so far, and the records missed.
    void TakeAll()
    {
        CGuard guard(Core.Manager->Lock());
        Tap->Take(Records, Missed);
    }
    // The bytes of the records of one direction, in order.
    std::vector<uint8_t> Bytes(bool inbound) const
    {
        std::vector<uint8_t> all;
        for (const TrafficRecord& record : Records) {
            if (record.Inbound == inbound)
                all.insert(all.end(), record.Bytes.begin(), record.Bytes.end());
        }
        return all;
    }

    Console Core;
    std::shared_ptr<TrafficTap> Tap = std::make_shared<TrafficTap>();
    std::vector<TrafficRecord> Records;
    uint64_t Missed = 0;
};

TEST_F(MonitorTest, AMonitorThatKeepsUpSeesEveryByteOfAMebibyteInOrder)
{
    const UniqueFd listener = Listen();
    Core.Port->AddTcpClient("127.0.0.1", LocalPort(listener));
    const UniqueFd peer = AcceptWithin(listener);
    Core.Port->AddTap(Tap);
    const std::vector<uint8_t> in = Pattern(1 << 20, 7), out = Pattern(1 << 20, 8);
    std::atomic<bool> done {false};
    std::thread taker([&] {
        while (!done) {
            TakeAll();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread sender([&] { EXPECT_TRUE(SendAll(peer, in, 60)); });
    EXPECT_EQ(Core.Application->ReadExactly(in.size(), 60), in);
    sender.join();
    std::thread writer([&] { EXPECT_TRUE(Core.Application->WriteAll(out, 60)); });
    EXPECT_EQ(RecvExactly(peer, out.size(), 60), out);
    writer.join();
    done = true;
    taker.join();
    // The last chunk out is recorded once every link has it, a moment after the peer may.
    EXPECT_TRUE(WaitUntil([&] {
        TakeAll();
        return Bytes(false).size() >= out.size();
    }));

    EXPECT_EQ(Missed, 0u);
    EXPECT_TRUE(Bytes(true) == in) << "the records in do not hold the bytes in their order";
    EXPECT_TRUE(Bytes(false) == out) << "the records out do not hold the bytes in their order";
    const std::string link = "COM" + std::to_string(Core.Port->GetPortNumber()) + " #1 tcp-client 127.0.0.1:" + std::to_string(LocalPort(listener)) + " 127.0.0.1:"
        + std::to_string(LocalPort(listener));
    for (const TrafficRecord& record : Records) {
        ASSERT_EQ(record.Where, link);
        ASSERT_TRUE(record.Bytes.size() >= 1 && record.Bytes.size() <= 8192);
    }
    Core.Port->RemoveTap(Tap.get());
}

// Bytes of two clients of a server link that reach the application in one chunk are
// two records, each naming its sender, in the monitor and in a timestamped log.
TEST_F(MonitorTest, AChunkFromTwoPeersIsARecordPerPeer)
{
    const std::string log = Core.Home.Root + "/com4.log";
    Core.Port->SetLogFile(log.c_str());
    Core.Port->SetLogTimestamps(true);
    Core.Port->SetReceiveFromNetDelayTime(300);
    const uint16_t listen = FreePort();
    CNetObject* server = Core.Port->AddTcpServer(listen).Link;
    ASSERT_NE(server, nullptr);
    Core.Port->AddTap(Tap);
    const UniqueFd first = ConnectTo(listen), second = ConnectTo(listen);
    ASSERT_TRUE(WaitUntil([&] { return Core.ClientCount(server) == 2; }));
    ASSERT_TRUE(SendAll(first, {'a', 'b'}));
    ASSERT_TRUE(WaitUntil([&] { return Core.Port->FromNetQueued() == 2; }));
    ASSERT_TRUE(SendAll(second, {'c'}));
    EXPECT_EQ(Core.Application->ReadExactly(3), (std::vector<uint8_t>{'a', 'b', 'c'}));
    ASSERT_TRUE(WaitUntil([&] {
        TakeAll();
        return Records.size() == 2;
    }));
    const std::string from = "COM" + std::to_string(Core.Port->GetPortNumber()) + " #1 tcp-server " + std::to_string(listen) + " 127.0.0.1:";
    EXPECT_EQ(Records[0].Where, from + std::to_string(LocalPort(first)));
    EXPECT_EQ(Records[1].Where, from + std::to_string(LocalPort(second)));
    EXPECT_EQ(Records[0].Time, Records[1].Time);
    const std::string text = FileText(log);
    const std::string stamp = "[" + EventLog::TimeText(Records[0].Time);
    EXPECT_EQ(text, stamp + " 2 " + Records[0].Where + "] I:ab" + stamp + " 1 " + Records[1].Where + "] I:c");
    Core.Port->RemoveTap(Tap.get());
}

// A monitor that never takes: the port carries its traffic as before, the monitor
// keeps what its bound holds and counts the rest.
TEST_F(MonitorTest, AMonitorThatNeverTakesHoldsNothingUp)
{
    const UniqueFd listener = Listen();
    Core.Port->AddTcpClient("127.0.0.1", LocalPort(listener));
    const UniqueFd peer = AcceptWithin(listener);
    Tap = std::make_shared<TrafficTap>(TrafficTap::Wake {}, 256 * 1024);
    Core.Port->AddTap(Tap);
    const std::vector<uint8_t> out = Pattern(4 << 20, 9);
    std::thread writer([&] { EXPECT_TRUE(Core.Application->WriteAll(out, 60)); });
    EXPECT_EQ(RecvExactly(peer, out.size(), 60), out);
    writer.join();
    {
        CGuard guard(Core.Manager->Lock());
        EXPECT_LE(Tap->WaitingBytes(), 256u * 1024u);
    }
    TakeAll();
    EXPECT_GT(Missed, 0u);
    EXPECT_EQ(Bytes(false), std::vector<uint8_t>(out.begin(), out.begin() + static_cast<long>(Bytes(false).size())));
    Core.Port->RemoveTap(Tap.get());
}

} // namespace
