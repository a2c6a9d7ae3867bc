// The device store after a crash in the middle of `port add` or `port remove`: the
// next start puts each half-written state right and says so, shows exactly the ports
// whose records are whole, each number claimed once; the next add adds one port.
// Also after real kills at moments spread over adds and removals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/wait.h>
#include <thread>

#include "platform/base/EventLog.h"
#include "platform/devices/DeviceStore.h"
#include "ports/QLNManager.h"
#include "support/DeviceState.h"
#include "support/ParamName.h"

using namespace qlntest;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

struct HalfWritten {
    const char* What;
    std::string Record; // devices/ROOT#PORTS#0076 beside a whole COM1; empty: none
    std::set<int> Claims;
    std::vector<std::string> Said; // the start's words, in order
};

void PrintTo(const HalfWritten& row, std::ostream* out)
{
    *out << row.What;
}

class StoreRepairTest : public DeviceStateTest, public ::testing::WithParamInterface<HalfWritten> {
protected:
    void TearDown() override
    {
        Manager.reset();
        DeviceStateTest::TearDown();
    }
    // A fresh manager started on the store, as a new console; then every record is
    // whole and its number claimed, nothing else claimed, and an add adds one port
    // with the lowest free number.
    void RestartAndExpectWhole()
    {
        Manager.reset();
        PortDriver::Instance().DetachAll();
        Manager = std::make_unique<CQLNManager>(nullptr, InfPath);
        ASSERT_EQ(Manager->Start().Text(), "");
        for (const std::string& name : Devices())
            EXPECT_THAT(FileText(State + "/devices/" + name),
                        AllOf(HasSubstr("\nPortName=COM"), HasSubstr("\nEnabled=1\n")));
        std::set<int> numbers;
        CQLNManager::PortList ports;
        Manager->CopyPorts(&ports);
        for (CPortObject* port : ports)
            numbers.insert(port->GetPortNumber());
        EXPECT_EQ(numbers.size(), Devices().size());
        EXPECT_EQ(Claims(), numbers);
        int lowest = 1;
        while (numbers.count(lowest))
            ++lowest;
        CPortObject* added = Manager->AddPort(0);
        ASSERT_TRUE(added && added->GetPortNumber() == lowest && Devices().size() == numbers.size() + 1);
    }

    std::string InfPath = CopyPackage();
    std::unique_ptr<CQLNManager> Manager;
};

TEST_P(StoreRepairTest, IsPutRightAtTheNextStart)
{
    {
        CQLNManager installer(nullptr, InfPath);
        ASSERT_TRUE(!installer.Start() && installer.AddPort(0)); // COM1, whole
    }
    if (!GetParam().Record.empty())
        WriteFileText(State + "/devices/ROOT#PORTS#0076",
                      "[Device]\nInstanceId=ROOT\\PORTS\\0076\nClassGuid=" + std::string(PortsClassGuid)
                          + "\nDescription=Quillon\n" + GetParam().Record);
    std::string claims;
    for (int n : GetParam().Claims)
        claims += "COM" + std::to_string(n) + "\n";
    WriteFileText(State + "/comdb", claims);
    EventLog::Instance().Reset(); // a source's burst of earlier rows would hold its lines back
    RestartAndExpectWhole();
    std::vector<std::string> said;
    for (const Event& event : EventLog::Instance().Since(0))
        said.push_back(event.Text);
    EXPECT_EQ(said, GetParam().Said);
}

const std::string Left = "Removed device ROOT\\PORTS\\0076: an interrupted port add left it ";
std::string Released(int number)
{
    return "Released COM" + std::to_string(number)
        + " in the COM number database: no device carries it (an interrupted port add or removal claimed it).";
}

INSTANTIATE_TEST_SUITE_P(
    States, StoreRepairTest,
    ::testing::Values(
        HalfWritten{"registered, not yet numbered", "Enabled=1\nHardwareId=QUILLON\n[HardwareKey]\n", {1},
                    {Left + "without a port number."}},
        HalfWritten{"a number claimed, not yet written", "Enabled=1\nHardwareId=QUILLON\n", {1, 2},
                    {Left + "without a port number.", Released(2)}},
        HalfWritten{"disabled while renumbered",
                    "Enabled=0\nHardwareId=QUILLON\n[HardwareKey]\nPortName=COM2\n[DriverKey]\nInfPath=oem0.inf\n",
                    {1, 2, 5}, {Left + "disabled.", Released(2), Released(5)}},
        HalfWritten{"a record removed, its number not released", "", {1, 3}, {Released(3)}},
        HalfWritten{"a whole device without its claim", "", {},
                    {"Claimed COM1 in the COM number database for device ROOT\\PORTS\\0000, which carries it."}}),
    [](const auto& info) { return LabelName(info.param.What); });

// A process adds and removes ports without pause and is killed a little later each
// round; each next start finds the store whole.
TEST_F(StoreRepairTest, AKillAtAnyMomentOfAddsAndRemovalsLeavesNothingHalfDone)
{
    for (int round = 0; round < 24 && !HasFailure(); ++round) {
        Manager.reset();
        PortDriver::Instance().DetachAll();
        const pid_t child = fork();
        if (child == 0) {
            CQLNManager busy(nullptr, InfPath);
            for (busy.Start();;) {
                CQLNManager::PortList ports;
                busy.CopyPorts(&ports);
                ports.size() < 3 ? (void)busy.AddPort(0) : (void)busy.RemovePort(ports.front());
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + 1700 * round));
        kill(child, SIGKILL);
        ASSERT_EQ(waitpid(child, nullptr, 0), child);
        RestartAndExpectWhole();
        EXPECT_FALSE(HasFailure()) << "round " << round;
    }
}

} // namespace
