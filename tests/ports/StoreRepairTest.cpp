// The device store after a crash in the middle of `port add` or `port remove`: each
// half-written state is put right at the next start, which says what it did, shows
// exactly the ports whose records are whole, and leaves each number claimed by one
// device; the next add then adds exactly one port. Also after real kills at random
// moments of adds and removals.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/base/EventLog.h"
#include "platform/devices/DeviceStore.h"
#include "ports/QLNManager.h"
#include "support/DeviceState.h"
#include "support/ParamName.h"

using namespace qlntest;

namespace {

class StoreRepairTest : public DeviceStateTest {
protected:
    void SetUp() override { InfPath = CopyPackage(); }
    void TearDown() override
    {
        Manager.reset();
        DeviceStateTest::TearDown();
    }

    // A fresh manager, as a new console finds the store.
    CQLNManager& Restart()
    {
        Manager.reset();
        PortDriver::Instance().DetachAll();
        Manager = std::make_unique<CQLNManager>(nullptr, InfPath);
        return *Manager;
    }
    std::set<int> Numbers()
    {
        CQLNManager::PortList ports;
        Manager->CopyPorts(&ports);
        std::set<int> numbers;
        for (CPortObject* port : ports)
            numbers.insert(port->GetPortNumber());
        return numbers;
    }
    // Whole: every record names its port and is enabled; each number is claimed
    // once, by the port that carries it.
    void ExpectWhole()
    {
        for (const std::string& name : Devices()) {
            const std::string record = FileText(State + "/devices/" + name);
            EXPECT_NE(record.find("\nPortName=COM"), std::string::npos) << name << ":\n" << record;
            EXPECT_NE(record.find("\nEnabled=1\n"), std::string::npos) << name << ":\n" << record;
        }
        EXPECT_EQ(Numbers().size(), Devices().size());
        EXPECT_EQ(Claims(), Numbers());
    }
    // The next add adds one port, the lowest free number, with one record and claim.
    void ExpectOneMorePort()
    {
        const std::set<int> before = Numbers();
        const size_t devices = Devices().size();
        int lowest = 1;
        while (before.count(lowest))
            ++lowest;
        CPortObject* added = Manager->AddPort(0);
        ASSERT_NE(added, nullptr);
        EXPECT_EQ(added->GetPortNumber(), lowest);
        EXPECT_EQ(Numbers().size(), before.size() + 1);
        EXPECT_EQ(Devices().size(), devices + 1);
        ExpectWhole();
    }

    std::string InfPath;
    std::unique_ptr<CQLNManager> Manager;
};

// A record as the store writes it; `enabled`, and what follows [HardwareKey].
void WriteRecord(const std::string& state, const std::string& id, bool enabled, const std::string& keys)
{
    WriteFileText(state + "/devices/ROOT#PORTS#" + id,
                  "[Device]\nInstanceId=ROOT\\PORTS\\" + id + "\nClassGuid=" + PortsClassGuid
                      + "\nDescription=Quillon\nEnabled=" + (enabled ? "1" : "0") + "\nHardwareId=QUILLON\n"
                      + "[HardwareKey]\n" + keys);
}

void WriteClaims(const std::string& state, const std::set<int>& numbers)
{
    std::string text;
    for (int n : numbers)
        text += "COM" + std::to_string(n) + "\n";
    WriteFileText(state + "/comdb", text);
}

struct HalfWritten {
    const char* What;
    std::function<void(const std::string& state)> Leave; // beside a whole COM1
    std::vector<std::string> Said;                       // the start's words, in order
};

void PrintTo(const HalfWritten& row, std::ostream* out)
{
    *out << row.What;
}

class HalfWrittenTest : public StoreRepairTest, public ::testing::WithParamInterface<HalfWritten> {};

TEST_P(HalfWrittenTest, IsPutRightAtTheNextStart)
{
    ASSERT_EQ(Restart().Start(), 1);
    ASSERT_NE(Manager->AddPort(0), nullptr);
    Manager.reset();
    GetParam().Leave(State);

    EventLog::Instance().Reset(); // a source's burst of earlier rows would hold its lines back
    const uint64_t before = EventLog::Instance().LastNumber();
    ASSERT_EQ(Restart().Start(), 1);
    EXPECT_EQ(Numbers(), std::set<int>{1});
    EXPECT_EQ(Devices(), std::set<std::string>{"ROOT#PORTS#0000"});
    ExpectWhole();
    std::vector<std::string> said;
    for (const Event& event : EventLog::Instance().Since(before)) {
        if (event.Source == "store")
            said.push_back(event.Text);
    }
    EXPECT_EQ(said, GetParam().Said);
    ExpectOneMorePort();
}

const std::string Disabled = "Removed device ROOT\\PORTS\\0001: an interrupted port add left it disabled.";
const std::string Unnumbered = "Removed device ROOT\\PORTS\\0076: an interrupted port add left it without a port number.";
std::string Released(int number)
{
    return "Released COM" + std::to_string(number)
        + " in the COM number database: no device carries it (an interrupted port add or removal claimed it).";
}

INSTANTIATE_TEST_SUITE_P(
    States, HalfWrittenTest,
    ::testing::Values(
        HalfWritten{"registered, not yet numbered",
                    [](const std::string& state) { WriteRecord(state, "0076", true, ""); }, {Unnumbered}},
        HalfWritten{"a number claimed, not yet written",
                    [](const std::string& state) {
                        WriteRecord(state, "0076", true, "");
                        WriteClaims(state, {1, 2});
                    },
                    {Unnumbered, Released(2)}},
        HalfWritten{"disabled while renumbered",
                    [](const std::string& state) {
                        WriteRecord(state, "0001", false, "PortName=COM2\n[DriverKey]\nInfPath=oem0.inf\n");
                        WriteClaims(state, {1, 2, 5});
                    },
                    {Disabled, Released(2), Released(5)}},
        HalfWritten{"a record removed, its number not released",
                    [](const std::string& state) { WriteClaims(state, {1, 3}); }, {Released(3)}},
        HalfWritten{"a whole device without its claim",
                    [](const std::string& state) { WriteClaims(state, {}); },
                    {"Claimed COM1 in the COM number database for device ROOT\\PORTS\\0000, which carries it."}}),
    [](const auto& info) { return LabelName(info.param.What); });

// Real kills: a process adds and removes ports without pause and is killed at a
// different moment each round; each next start finds the store whole.
TEST_F(StoreRepairTest, AKillAtAnyMomentOfAddsAndRemovalsLeavesNothingHalfDone)
{
    for (int round = 0; round < 24; ++round) {
        Manager.reset();
        PortDriver::Instance().DetachAll();
        const pid_t child = fork();
        if (child == 0) {
            CQLNManager busy(nullptr, InfPath);
            if (busy.Start() != 1)
                _exit(3);
            for (;;) {
                busy.AddPort(0);
                CQLNManager::PortList ports;
                busy.CopyPorts(&ports);
                if (ports.size() >= 3)
                    busy.RemovePort(ports.front());
            }
        }
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + 1700 * round));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": " << status;

        ASSERT_EQ(Restart().Start(), 1) << "round " << round;
        ExpectWhole();
        ExpectOneMorePort();
        if (HasFailure())
            FAIL() << "round " << round;
    }
}

} // namespace
