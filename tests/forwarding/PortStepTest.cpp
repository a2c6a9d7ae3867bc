// The port's step on a device in memory: the queues, the chunk bounds, the delays and
// the drain of an application that let go, exactly and without a pseudo-terminal.
#include <gtest/gtest.h>
#include <random>
#include <sys/epoll.h>

#include "forwarding/PortObject.h"
#include "platform/base/TickCount.h"
#include "support/Bytes.h"
#include "support/MemoryPortDevice.h"
#include "support/WaitUntil.h"

using namespace qlntest;

namespace {

constexpr size_t ChunkSize = 8192;

class PortStepTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto device = std::make_unique<MemoryPortDevice>();
        Device = device.get();
        Port = std::make_unique<CPortObject>(9, &Lock, nullptr, std::move(device));
        Port->AddTap(Tap);
        CGuard held(Lock);
        ASSERT_FALSE(Port->OpenDriver());
        Port->SetWait(&Wait);
        // No link is kept; the maker hands over the port's side, through which the
        // test plays the network.
        Port->MakeLink([this](PortSide& side) {
            Side = &side;
            return nullptr;
        });
    }
    void TearDown() override
    {
        CGuard held(Lock);
        Port.reset();
    }

    // One pass of the pump over the port, as the manager makes it: the wait's reports,
    // the step, the waits for the next one.
    void Step()
    {
        epoll_event events[8];
        const int found = Wait.Wait(events, 8, 0).Count;
        CGuard held(Lock);
        for (int i = 0; i < found; ++i)
            Wait.Deliver(events[i].data.u64, events[i].events);
        Port->Pump();
        Port->ArmWaits();
        ASSERT_LE(Port->ToNetQueued(), ChunkSize) << "the port reads only while nothing waits to go out";
    }
    void FromNetwork(const std::vector<uint8_t>& bytes)
    {
        CGuard held(Lock);
        Side->FromNet(bytes.data(), bytes.size(), nullptr);
    }
    void Notice()
    {
        CGuard held(Lock);
        Port->OpenNoticeArrived();
    }
    // What passed the port since the last call, each way, record by record.
    void TakeRecords()
    {
        CGuard held(Lock);
        std::vector<TrafficRecord> records;
        uint64_t missed = 0;
        Tap->Take(records, missed);
        ASSERT_EQ(missed, 0u);
        for (const TrafficRecord& record : records) {
            ASSERT_GT(record.Bytes.size(), 0u);
            ASSERT_LE(record.Bytes.size(), ChunkSize);
            auto& to = record.Inbound ? In : Out;
            to.insert(to.end(), record.Bytes.begin(), record.Bytes.end());
        }
    }

    CCriticalSection Lock;
    ReadinessWait Wait;
    std::shared_ptr<TrafficTap> Tap = std::make_shared<TrafficTap>();
    MemoryPortDevice* Device = nullptr; // owned by Port
    std::unique_ptr<CPortObject> Port;
    PortSide* Side = nullptr;
    std::vector<uint8_t> Out; // went to the network (no link: let go at once)
    std::vector<uint8_t> In;  // written to the application
};

// A random mix of the application writing, the network sending, the application
// reading a little or much, and steps: every byte arrives once and in order each way,
// in chunks of at most 8192 bytes, never beyond the device's free space.
TEST_F(PortStepTest, RandomTrafficArrivesWholeInBoundedChunks)
{
    const uint32_t seed = std::random_device {}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto upTo = [&](size_t most) { return std::uniform_int_distribution<size_t>(1, most)(random); };
    Device->Hold();
    Notice();

    std::vector<uint8_t> sent, offered, got;
    for (uint32_t round = 0; round < 400; ++round) {
        switch (upTo(4)) {
        case 1: {
            const auto bytes = Pattern(upTo(20000), seed + round);
            Device->Send(bytes);
            sent.insert(sent.end(), bytes.begin(), bytes.end());
            break;
        }
        case 2: {
            const auto bytes = Pattern(upTo(40000), ~seed + round);
            FromNetwork(bytes);
            offered.insert(offered.end(), bytes.begin(), bytes.end());
            break;
        }
        case 3: {
            const auto bytes = Device->Take(upTo(MemoryPortDevice::Capacity));
            got.insert(got.end(), bytes.begin(), bytes.end());
            break;
        }
        default:
            for (size_t steps = upTo(3); steps > 0; --steps)
                ASSERT_NO_FATAL_FAILURE(Step());
        }
        ASSERT_NO_FATAL_FAILURE(TakeRecords());
    }
    ASSERT_TRUE(WaitUntil([&] {
        Step();
        const auto bytes = Device->Take();
        got.insert(got.end(), bytes.begin(), bytes.end());
        TakeRecords();
        return Out.size() >= sent.size() && got.size() >= offered.size();
    }));
    EXPECT_EQ(Out, sent);
    EXPECT_EQ(got, offered);
    EXPECT_EQ(In, offered) << "each chunk written is recorded once";
    for (uint32_t length : Device->Writes)
        ASSERT_LE(length, ChunkSize);
    EXPECT_EQ(Port->GetBytesFromApplication(), sent.size());
    EXPECT_EQ(Port->GetBytesToApplication(), offered.size());
    EXPECT_EQ(Port->FromNetQueued(), 0u);
}

// Each direction waits its own delay, counted from when its bytes reached the port
// (the delay is a lower bound; a slow machine may take longer).
TEST_F(PortStepTest, EachWayWaitsItsDelay)
{
    const struct {
        int32_t Send, Receive;
    } rows[] = {{0, 0}, {30, 0}, {0, 30}, {20, 45}};
    Device->Hold();
    Notice();
    for (const auto& row : rows) {
        SCOPED_TRACE("send " + std::to_string(row.Send) + " ms, receive " + std::to_string(row.Receive) + " ms");
        Port->SetSendToNetDelayTime(row.Send);
        Port->SetReceiveFromNetDelayTime(row.Receive);
        Out.clear();
        In.clear();
        const int32_t start = GetTickCount32();
        Device->Send(Pattern(100, 1));
        FromNetwork(Pattern(100, 2));
        int32_t outAt = 0, inAt = 0;
        ASSERT_TRUE(WaitUntil([&] {
            Step();
            TakeRecords();
            if (!outAt && !Out.empty())
                outAt = GetTickCount32();
            if (!inAt && !In.empty())
                inAt = GetTickCount32();
            return outAt && inAt;
        }));
        EXPECT_GE(TickDiff(outAt, start), row.Send);
        EXPECT_GE(TickDiff(inAt, start), row.Receive);
        EXPECT_EQ(Out, Pattern(100, 1));
        EXPECT_EQ(Device->Take(), Pattern(100, 2));
    }
}

// Bytes from the network wait while nobody holds the port and go whole to the next
// application. What an application wrote before it let go still goes out, read to the
// end and no further; the open notice of another port starts no read here, while the
// port's own notice finds what an application wrote and left before the port looked.
TEST_F(PortStepTest, BacklogWaitsForTheApplicationAndWhatItLeftIsDrained)
{
    FromNetwork(Pattern(50000, 3));
    // A new port looks once whether an application left bytes: one step arms the
    // look, the next reads.
    ASSERT_NO_FATAL_FAILURE(Step());
    ASSERT_NO_FATAL_FAILURE(Step());
    const uint32_t settled = Device->Reads;
    for (int i = 0; i < 5; ++i)
        ASSERT_NO_FATAL_FAILURE(Step());
    EXPECT_EQ(Port->FromNetQueued(), 50000u);
    EXPECT_TRUE(Device->Writes.empty());
    EXPECT_EQ(Device->Reads, settled) << "an idle port costs no read";

    Notice(); // some other port was opened
    ASSERT_NO_FATAL_FAILURE(Step());
    ASSERT_NO_FATAL_FAILURE(Step());
    EXPECT_EQ(Device->Reads, settled) << "only the port that was opened looks";

    Device->Hold();
    Device->Send(Pattern(30000, 4));
    Device->Release(); // gone before the port looked
    Notice();
    std::vector<uint8_t> got;
    ASSERT_TRUE(WaitUntil([&] {
        Step();
        TakeRecords();
        return Out.size() >= 30000;
    }));
    EXPECT_EQ(Out, Pattern(30000, 4));
    EXPECT_EQ(Port->FromNetQueued(), 50000u) << "nobody took it: it waits";
    const uint32_t reads = Device->Reads;
    for (int i = 0; i < 5; ++i)
        ASSERT_NO_FATAL_FAILURE(Step());
    EXPECT_LE(Device->Reads, reads + 1) << "the drain ends once nothing is left";

    Device->Hold();
    Notice();
    ASSERT_TRUE(WaitUntil([&] {
        Step();
        const auto bytes = Device->Take();
        got.insert(got.end(), bytes.begin(), bytes.end());
        return got.size() >= 50000;
    }));
    EXPECT_EQ(got, Pattern(50000, 3));
}

} // namespace
