// The port manager: its thread, its lock, its pump loop and its destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ports/QLNManager.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/Loopback.h"
#include "support/PortsHome.h"

using namespace qlntest;

namespace {

class ManagerTest : public ::testing::Test {
protected:
    PortsHome Home;
};

// A TCP client link whose peer reads everything the application writes: while
// bytes flow every pass has work, so the pump does not pause between passes.
struct BusyPort {
    explicit BusyPort(CQLNManager& manager)
    {
        Listener = Listen();
        CQLNManager::PortList ports;
        manager.CopyPorts(&ports);
        Port = ports.front();
        Port->AddTcpClient("127.0.0.1", LocalPort(Listener));
        Peer = AcceptWithin(Listener);
        App = std::make_unique<qlntest::App>(PortDriver::Instance().LinkPath(Port->GetPortNumber()));
    }
    ~BusyPort()
    {
        Draining = false;
        if (Drain.joinable())
            Drain.join();
    }
    void Flood()
    {
        Drain = std::thread([this] {
            std::vector<uint8_t> buffer(65536);
            while (Draining) {
                pollfd p {Peer.Get(), POLLIN, 0};
                if (poll(&p, 1, 10) > 0 && recv(Peer.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT) > 0)
                    Received = true;
            }
        });
        WaitUntil([&] {
            App->WriteAll(Pattern(65536), 0.05);
            return Received.load();
        }, 20);
    }
    UniqueFd Listener;
    UniqueFd Peer;
    CPortObject* Port = nullptr;
    std::unique_ptr<qlntest::App> App;
    std::thread Drain;
    std::atomic<bool> Draining {true};
    std::atomic<bool> Received {false};
};

TEST_F(ManagerTest, IdlePumpWaitsAndBusyPumpDoesNot)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({3}).Text(), "");
    ASSERT_TRUE(WaitUntil([&] { return manager.PassCount() >= 1; }));
    // Nothing to do: the pump waits instead of passing over and over.
    uint64_t before = manager.PassCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(manager.PassCount() - before, 5u);

    BusyPort busy(manager);
    busy.Flood();
    before = manager.PassCount();
    EXPECT_TRUE(WaitUntil([&] {
        busy.App->WriteAll(Pattern(4096), 0.001); // keep bytes flowing
        return manager.PassCount() - before > 2000;
    }, 30))
        << "a pass with work is followed at once by the next";
}

TEST_F(ManagerTest, WindowThreadLockWaitsForThePassAndHoldsThePump)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({4}).Text(), "");
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

// The release hook runs once per outermost release after a Touch, never for the
// quiet thread, and a hold that only read runs nothing.
TEST(ManagerLockTest, ReleaseHookRunsAfterTheOutermostTouchedReleaseOfALoudThread)
{
    CCriticalSection lock;
    int hooks = 0;
    lock.SetReleaseHook([&] { ++hooks; });
    {
        CGuard read(lock);
    }
    EXPECT_EQ(hooks, 0);
    {
        CGuard outer(lock);
        {
            CGuard inner(lock);
            lock.Touch();
        }
        EXPECT_EQ(hooks, 0) << "an inner release is not the end of the hold";
    }
    EXPECT_EQ(hooks, 1);
    {
        CGuard again(lock);
    }
    EXPECT_EQ(hooks, 1) << "a Touch counts for its own hold only";
    std::thread([&] {
        CGuard quiet(lock);
        lock.MarkQuietThread();
        lock.Touch();
    }).join();
    EXPECT_EQ(hooks, 1) << "the quiet thread's releases run no hook";
    {
        CGuard loud(lock);
        lock.Touch();
    }
    EXPECT_EQ(hooks, 2);
}

// A change under the lock from the window thread wakes a pump that waits with
// nothing to do: the manager's lock hook is its wake.
TEST_F(ManagerTest, TouchUnderTheLockWakesTheIdlePump)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({7}).Text(), "");
    ASSERT_TRUE(WaitUntil([&] { return manager.PassCount() >= 1; }));
    for (int round = 0; round < 20; ++round) {
        const uint64_t before = manager.PassCount();
        {
            CGuard guard(manager.Lock());
            manager.Lock()->Touch();
        }
        ASSERT_TRUE(WaitUntil([&] { return manager.PassCount() > before; })) << "round " << round;
    }
}

TEST_F(ManagerTest, DestructionEndsTheLoopAndTakesPortsDown)
{
    UniqueFd peer, listener = Listen();
    {
        CQLNManager manager(nullptr, "");
        ASSERT_EQ(manager.StartOnPorts({5, 6}).Text(), "");
        CQLNManager::PortList ports;
        manager.CopyPorts(&ports);
        ASSERT_EQ(ports.size(), 2u);
        EXPECT_EQ(ports.front()->GetPortNumber(), 5);
        ports.front()->AddTcpClient("127.0.0.1", LocalPort(listener));
        peer = AcceptWithin(listener);
        ASSERT_TRUE(peer);
    }
    // The link's connection was closed with the port, and the driver handles with it.
    char c;
    EXPECT_TRUE(WaitUntil([&] { return recv(peer.Get(), &c, 1, MSG_DONTWAIT) == 0; }));
    EXPECT_NE(PortDriver::Instance().Open(5), INVALID_DRIVER_HANDLE);
}

TEST_F(ManagerTest, CollectsOnlyPortsHeldByApplications)
{
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({3, 5, 7}).Text(), "");
    App com3(PortDriver::Instance().LinkPath(3));
    App com7(PortDriver::Instance().LinkPath(7));
    CQLNManager::PortList open;
    manager.CollectOpenedPorts(&open);
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open.front()->GetPortNumber(), 3);
    EXPECT_EQ(open.back()->GetPortNumber(), 7);
}

} // namespace
