// The port manager: its thread, its lock, its pump loop and its destruction.
#include <gtest/gtest.h>

#include "forwarding/DriverInterface.h"
#include "ports/QLNManager.h"
#include "TestEnv.h"

using namespace qlntest;

namespace {

struct Counter : IRunnable {
    void Run() override { ++Runs; }
    int Runs = 0;
};

class CountingThread : public CThread {
public:
    explicit CountingThread(IRunnable* target) { Target = target; }
};

TEST(ThreadTest, StartTwiceMakesOneThread)
{
    Counter counter;
    CountingThread thread(&counter);
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.Wait(5000), CThread::WaitResult::Ended);
    uint32_t id = thread.GetThreadId();
    EXPECT_TRUE(thread.Start());
    EXPECT_EQ(thread.GetThreadId(), id);
    EXPECT_EQ(counter.Runs, 1);
}

TEST(ThreadTest, WaitOnAThreadNeverStartedFails)
{
    CThread thread;
    EXPECT_EQ(thread.Wait(0), CThread::WaitResult::Failed);
}

TEST(CriticalSectionTest, ReentrantAndReportsItsHolder)
{
    CCriticalSection lock;
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
    {
        CGuard outer(lock);
        CGuard inner(lock);
        EXPECT_TRUE(lock.IsHeldByCurrentThread());
        bool otherSees = true;
        std::thread([&] { otherSees = lock.IsHeldByCurrentThread(); }).join();
        EXPECT_FALSE(otherSees);
    }
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
}

class ManagerTest : public ::testing::Test {
protected:
    TempHome Home;
};

// A TCP client link on a peer that never reads: every pass attempts a send that
// would block, which is work, so the pump never pauses.
struct BusyPort {
    explicit BusyPort(CQLNManager& manager) : Manager(manager)
    {
        Listener = Listen();
        CQLNManager::PortList ports;
        manager.CopyPorts(&ports);
        Port = ports.front();
        Link = Port->AddTcpClient("127.0.0.1", LocalPort(Listener));
        Peer = AcceptWithin(Listener);
        App = std::make_unique<qlntest::App>(PortDriver::Instance().LinkPath(Port->GetPortNumber()));
    }
    ~BusyPort()
    {
        close(Peer);
        close(Listener);
    }
    void Flood()
    {
        // Enough to fill the peer's receive buffer and our send buffer.
        WaitUntil([&] {
            auto chunk = Pattern(65536);
            App->WriteAll(chunk, 0.05);
            CGuard guard(Manager.Lock());
            return Port->ToNetQueued() > 0 && Link->Taken > 0;
        }, 20);
    }
    CQLNManager& Manager;
    int Listener = -1;
    int Peer = -1;
    CPortObject* Port = nullptr;
    CNetObject* Link = nullptr;
    std::unique_ptr<qlntest::App> App;
};

TEST_F(ManagerTest, IdlePumpWaitsAndBusyPumpDoesNot)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({3}), 1);
    ASSERT_TRUE(WaitUntil([&] { return manager.PassCount() >= 1; }));
    // Nothing to do: the pump waits instead of passing over and over.
    uint64_t before = manager.PassCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(manager.PassCount() - before, 5u);

    BusyPort busy(manager);
    busy.Flood();
    before = manager.PassCount();
    EXPECT_TRUE(WaitUntil([&] {
        busy.App->WriteAll(Pattern(4096), 0.001); // keep the peer's side full
        return manager.PassCount() - before > 2000;
    }, 30))
        << "a pass with work is followed at once by the next";
}

TEST_F(ManagerTest, WindowThreadLockWaitsForThePassAndHoldsThePump)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({4}), 1);
    BusyPort busy(manager);
    busy.Flood();
    {
        CGuard guard(manager.Lock());
        uint64_t held = manager.PassCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(manager.PassCount(), held) << "no pass runs while the window thread holds the lock";
    }
    uint64_t after = manager.PassCount();
    EXPECT_TRUE(WaitUntil([&] {
        busy.App->WriteAll(Pattern(4096), 0.001);
        return manager.PassCount() > after + 10;
    }));
}

TEST_F(ManagerTest, DestructionEndsTheLoopAndTakesPortsDown)
{
    int peer = -1, listener = Listen();
    {
        CQLNManager manager(nullptr, "");
        ASSERT_EQ(manager.StartOnPorts({5, 6}), 1);
        CQLNManager::PortList ports;
        manager.CopyPorts(&ports);
        ASSERT_EQ(ports.size(), 2u);
        EXPECT_EQ(ports.front()->GetPortNumber(), 5);
        ports.front()->AddTcpClient("127.0.0.1", LocalPort(listener));
        peer = AcceptWithin(listener);
        ASSERT_GE(peer, 0);
    }
    // The link's connection was closed with the port, and the driver handles with it.
    char c;
    EXPECT_TRUE(WaitUntil([&] { return recv(peer, &c, 1, MSG_DONTWAIT) == 0; }));
    EXPECT_NE(PortDriver::Instance().Open(5), INVALID_DRIVER_HANDLE);
    close(peer);
    close(listener);
}

TEST_F(ManagerTest, CollectsOnlyPortsHeldByApplications)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({3, 5, 7}), 1);
    App com3(PortDriver::Instance().LinkPath(3));
    App com7(PortDriver::Instance().LinkPath(7));
    CQLNManager::PortList open;
    manager.CollectOpenedPorts(&open);
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open.front()->GetPortNumber(), 3);
    EXPECT_EQ(open.back()->GetPortNumber(), 7);
    manager.CollectOpenedPorts(nullptr);
    manager.CopyPorts(nullptr);
}

TEST(PortObjectTest, NewPortHasDefaultsAndCopiesItsLogName)
{
    CCriticalSection lock;
    CPortObject port(12, &lock);
    EXPECT_EQ(port.GetPortNumber(), 12);
    EXPECT_EQ(port.GetSendToNetDelayTime(), 0);
    EXPECT_EQ(port.GetReceiveFromNetDelayTime(), 0);
    EXPECT_EQ(port.GetLogMode(), 0);
    EXPECT_EQ(port.GetLogFilename(), "");
    EXPECT_TRUE(port.GetNetLinks().empty());
    EXPECT_EQ(port.ToNetQueued(), 0u);
    EXPECT_EQ(port.FromNetQueued(), 0u);
    EXPECT_EQ(port.GetDriverHandle(), INVALID_DRIVER_HANDLE);
    port.SetSendToNetDelayTime(-5);
    EXPECT_EQ(port.GetSendToNetDelayTime(), -5);
    std::string name = port.GetLogFilename();
    name += "x";
    EXPECT_EQ(port.GetLogFilename(), "");
}

TEST(ByteQueueTest, KeepsOrderAcrossPartialRemovals)
{
    ByteQueue queue;
    auto data = Pattern(10000);
    queue.Append(data.data(), 6000);
    queue.Append(data.data() + 6000, 4000);
    std::vector<uint8_t> front(8192);
    queue.CopyFront(front.data(), 8192);
    EXPECT_TRUE(std::equal(front.begin(), front.end(), data.begin()));
    queue.RemoveFront(8192);
    ASSERT_EQ(queue.Size(), 1808u);
    queue.CopyFront(front.data(), 1808);
    EXPECT_TRUE(std::equal(front.begin(), front.begin() + 1808, data.begin() + 8192));
    queue.RemoveFront(5000);
    EXPECT_TRUE(queue.IsEmpty());
}

} // namespace
