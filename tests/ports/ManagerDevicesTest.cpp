#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <vector>

#include "platform/base/UniqueFd.h"
#include "platform/devices/ComPortDatabase.h"
#include "platform/devices/DeviceStore.h"
#include "ports/QLNManager.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/DeviceState.h"
#include "support/Loopback.h"
#include "support/ParamName.h"
#include "support/ProcessStats.h"

using namespace qlntest;

namespace {

class ManagerDevicesTest : public DeviceStateTest {
protected:
    void SetUp() override
    {
        DeviceStateTest::SetUp();
        InfPath = CopyPackage();
    }

    void TearDown() override
    {
        Held.clear();
        Manager.reset();
        DeviceStateTest::TearDown();
    }

    // A fresh manager, as at the start of the console.
    CQLNManager& Restart(bool detach = true)
    {
        Manager.reset();
        if (detach)
            PortDriver::Instance().DetachAll(); // a new process has no ports yet
        Manager = std::make_unique<CQLNManager>(nullptr, InfPath);
        return *Manager;
    }

    CQLNManager::PortList Ports()
    {
        CQLNManager::PortList list;
        Manager->CopyPorts(&list);
        return list;
    }

    std::vector<int> Numbers()
    {
        std::vector<int> numbers;
        for (CPortObject* port : Ports())
            numbers.push_back(port->GetPortNumber());
        return numbers;
    }

    bool AllOpen()
    {
        for (CPortObject* port : Ports()) {
            if (port->GetDriverHandle() == INVALID_DRIVER_HANDLE)
                return false;
        }
        return true;
    }

    // An application opens COM<n> through its link.
    void HoldPort(int number)
    {
        UniqueFd fd(open((State + "/dev/COM" + std::to_string(number)).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(fd);
        Held.push_back(std::move(fd));
    }

    void ClaimInDatabase(int number)
    {
        auto database = ComPortDatabase::Open(State);
        ASSERT_TRUE(database && database->ClaimPort(number, true));
    }

    std::string InfPath;
    std::unique_ptr<CQLNManager> Manager;
    std::vector<UniqueFd> Held;
};

std::set<std::string> LinkNames(std::initializer_list<int> numbers)
{
    std::set<std::string> names;
    for (int n : numbers)
        names.insert("COM" + std::to_string(n));
    return names;
}

// ---- adding ---------------------------------------------------------------------

struct AddCase {
    const char* what;
    std::vector<int> claimedBefore; // claims without a device, made before the add
    int asked;
    int expected;
};

class AddPortTest : public ManagerDevicesTest, public ::testing::WithParamInterface<AddCase> {};

TEST_P(AddPortTest, GetsItsNumberWithOneDeviceOneClaimAndOneLink)
{
    const AddCase& c = GetParam();
    CQLNManager& manager = Restart();
    ASSERT_EQ(manager.Start().Text(), "");
    // Claimed while the console runs: a start releases claims no device carries,
    // which only an add or a removal cut short leaves.
    for (int n : c.claimedBefore)
        ClaimInDatabase(n);

    CPortObject* port = manager.AddPort(c.asked);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->GetPortNumber(), c.expected);
    EXPECT_EQ(Ports(), CQLNManager::PortList{port});
    EXPECT_NE(port->GetDriverHandle(), INVALID_DRIVER_HANDLE);
    EXPECT_EQ(Devices().size(), 1u);
    std::set<int> claims(c.claimedBefore.begin(), c.claimedBefore.end());
    claims.insert(c.expected);
    EXPECT_EQ(Claims(), claims);
    EXPECT_EQ(Links(), LinkNames({c.expected}));

    // The port is the one found at the next start.
    Restart();
    ASSERT_EQ(Manager->Start().Text(), "");
    EXPECT_EQ(Numbers(), std::vector<int>{c.expected});
    EXPECT_TRUE(AllOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, AddPortTest,
    ::testing::Values(AddCase{"any number: the lowest free", {1, 2}, 0, 3},
                      AddCase{"the number the system assigns anyway", {}, 1, 1},
                      AddCase{"a free number", {}, 7, 7},
                      AddCase{"a number in use, forced", {4}, 4, 4},
                      AddCase{"the last number", {}, 256, 256}),
    [](const auto& info) { return LabelName(info.param.what); });

// Ports come and go while another carries traffic: the other loses nothing (it
// pauses while a port is installed, as every port does) and its peer gets every
// byte once, in order; the added port works while it is there.
TEST_F(ManagerDevicesTest, PortsAddedAndRemovedWhileAnotherCarriesTraffic)
{
    CQLNManager& manager = Restart();
    ASSERT_EQ(manager.Start().Text(), "");
    CPortObject* busy = manager.AddPort(0);
    ASSERT_NE(busy, nullptr);
    const uint16_t listen = FreePort();
    ASSERT_NE(busy->AddTcpServer(listen).Link, nullptr);
    UniqueFd peer = ConnectTo(listen);
    App app(State + "/dev/COM" + std::to_string(busy->GetPortNumber()));
    ASSERT_TRUE(app.Ok());
    const std::vector<uint8_t> stream = Pattern(400000, 7);
    std::vector<uint8_t> received;
    std::thread writer([&] { app.WriteAll(stream, 60); });

    for (int round = 0; round < 3; ++round) {
        CPortObject* added = manager.AddPort(0);
        ASSERT_NE(added, nullptr);
        const uint16_t udp = FreePort(SOCK_DGRAM);
        UniqueFd far = BindUdp();
        ASSERT_NE(added->AddUdp(udp, "127.0.0.1", LocalPort(far)).Link, nullptr);
        {
            App other(State + "/dev/COM" + std::to_string(added->GetPortNumber()));
            ASSERT_TRUE(other.WriteAll({'+'}));
            EXPECT_EQ(RecvExactly(far, 1), std::vector<uint8_t>{'+'});
        }
        auto more = RecvFor(peer, 0.02);
        received.insert(received.end(), more.begin(), more.end());
        EXPECT_EQ(manager.RemovePort(added).Text(), "");
    }
    writer.join();
    auto rest = RecvExactly(peer, stream.size() - received.size(), 30);
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(received, stream);
}

TEST_F(ManagerDevicesTest, AskingForTheAssignedNumberKeepsTheInstallersFriendlyName)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    ASSERT_NE(Manager->AddPort(1), nullptr);
    std::string record = FileText(State + "/devices/ROOT#PORTS#0000");
    EXPECT_NE(record.find("FriendlyName=Quillon (COM1)\n"), std::string::npos);
    EXPECT_NE(record.find("Enabled=1\n"), std::string::npos);
}

// Each failure from the installation on leaves the state as it was and the ports
// that were open open again.
struct FailCase {
    const char* what;
    void (*spoil)(ManagerDevicesTest& test);
    int asked;
};

class AddPortFailureTest : public ManagerDevicesTest, public ::testing::WithParamInterface<FailCase> {
public:
    void SpoilPackage(const std::string& text) { WriteFileText(InfPath, text); }
    void RemovePackage() { unlink(InfPath.c_str()); }
    void FillDatabase()
    {
        auto database = ComPortDatabase::Open(State);
        for (int n = 1; n <= 256; ++n)
            database->ClaimPort(n, true);
    }
    void DatabaseAsFolder()
    {
        // The database cannot be written: no number can be claimed.
        std::string comdb = State + "/comdb";
        rename(comdb.c_str(), (Root + "/comdb.saved").c_str());
        mkdir(comdb.c_str(), 0755);
    }
};

TEST_P(AddPortFailureTest, LeavesNothingBehind)
{
    const FailCase& c = GetParam();
    ASSERT_EQ(Restart().Start().Text(), "");
    CPortObject* before = Manager->AddPort(0);
    ASSERT_NE(before, nullptr);
    ASSERT_EQ(before->GetPortNumber(), 1);
    const auto devicesBefore = Devices();

    c.spoil(*this);
    const auto claimsSpoiled = Claims();
    EXPECT_EQ(Manager->AddPort(c.asked), nullptr);

    EXPECT_EQ(Devices(), devicesBefore);
    EXPECT_EQ(Claims(), claimsSpoiled);
    EXPECT_EQ(Links(), LinkNames({1}));
    EXPECT_EQ(Ports(), CQLNManager::PortList{before});
    EXPECT_NE(before->GetDriverHandle(), INVALID_DRIVER_HANDLE);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AddPortFailureTest,
    ::testing::Values(
        FailCase{"no package", [](ManagerDevicesTest& t) { static_cast<AddPortFailureTest&>(t).RemovePackage(); }, 0},
        FailCase{"a package that is not valid",
                 [](ManagerDevicesTest& t) { static_cast<AddPortFailureTest&>(t).SpoilPackage("[Version]\nClass=Ports\n"); }, 5},
        FailCase{"no free number: the key holds no port name",
                 [](ManagerDevicesTest& t) { static_cast<AddPortFailureTest&>(t).FillDatabase(); }, 0},
        FailCase{"a database that cannot be written",
                 [](ManagerDevicesTest& t) { static_cast<AddPortFailureTest&>(t).DatabaseAsFolder(); }, 3},
        FailCase{"a claim past the database", [](ManagerDevicesTest&) {}, 300},
        FailCase{"a negative number", [](ManagerDevicesTest&) {}, -2}),
    [](const auto& info) { return LabelName(info.param.what); });

// ---- enumeration ----------------------------------------------------------------

TEST_F(ManagerDevicesTest, ARestartFindsTheSamePortsInTheSameOrderAndIgnoresOthers)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    for (int asked : {0, 9, 0, 5})
        ASSERT_NE(Manager->AddPort(asked), nullptr) << asked;
    const std::vector<int> numbers = Numbers();
    EXPECT_EQ(numbers, (std::vector<int>{1, 9, 2, 5}));

    // Devices the manager must not take: another hardware id, and port names that
    // name no port.
    auto foreign = [&](const char* id, const char* hardwareId, const char* portName) {
        WriteFileText(State + "/devices/ROOT#PORTS#" + id,
                  std::string("[Device]\nInstanceId=ROOT\\PORTS\\") + id + "\nClassGuid=" + PortsClassGuid
                      + "\nHardwareId=" + hardwareId + "\n[HardwareKey]\nPortName=" + portName
                      + "\n[DriverKey]\nInfPath=oem0.inf\n");
    };
    foreign("0100", "OTHER", "COM20");
    foreign("0101", "quillon", "COM21"); // the id compares byte for byte
    foreign("0102", "QUILLON", "COMX");
    foreign("0103", "QUILLON", "COM0");
    foreign("0104", "QUILLON", "");
    WriteFileText(State + "/devices/ROOT#PORTS#0105", "\xff\xfe garbage");

    Restart();
    ASSERT_EQ(Manager->Start().Text(), "");
    EXPECT_EQ(Numbers(), numbers);
    EXPECT_TRUE(AllOpen());
}

// ---- a port that cannot be served -------------------------------------------------

// What makes COM2 of three installed ports unservable at the next start.
struct UnservedCase {
    const char* what;
    DriverHandle (*spoil)(const std::string& state); // a handle to close afterwards, if any
    std::vector<int> numbers;                         // the ports found
    size_t unserved;                                  // which of them is not served
    const char* reason;
};

class UnservedPortTest : public ManagerDevicesTest, public ::testing::WithParamInterface<UnservedCase> {};

TEST_P(UnservedPortTest, IsMarkedWithItsReasonAndEveryOtherPortIsServed)
{
    const UnservedCase& c = GetParam();
    ASSERT_EQ(Restart().Start().Text(), "");
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(Manager->AddPort(0), nullptr);
    Manager.reset();
    PortDriver::Instance().DetachAll();
    const DriverHandle taken = c.spoil(State);

    ASSERT_EQ(Restart(false).Start().Text(), "");
    ASSERT_EQ(Numbers(), c.numbers);
    const CQLNManager::PortList ports = Ports();
    CPortObject* unserved = *std::next(ports.begin(), static_cast<long>(c.unserved));
    for (CPortObject* port : ports) {
        EXPECT_EQ(port->GetDriverHandle() != INVALID_DRIVER_HANDLE, port != unserved);
        EXPECT_EQ(port->GetUnavailableReason().empty(), port != unserved) << port->GetUnavailableReason();
    }
    EXPECT_THAT(unserved->GetUnavailableReason(), ::testing::HasSubstr(c.reason));
    if (taken != INVALID_DRIVER_HANDLE)
        PortDriver::Instance().Close(taken);

    // Of two devices of one number, removing the served one lets the other be served.
    if (c.numbers.size() == 4) {
        EXPECT_EQ(Manager->RemovePort(*std::next(ports.begin())).Text(), "");
        EXPECT_NE(unserved->GetDriverHandle(), INVALID_DRIVER_HANDLE);
        EXPECT_EQ(unserved->GetUnavailableReason(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UnservedPortTest,
    ::testing::Values(
        UnservedCase{"its handle is open elsewhere",
                     [](const std::string& state) {
                         DeviceStore(state).AttachPresentDevices();
                         return PortDriver::Instance().Open(2);
                     },
                     {1, 2, 3}, 1, "COM2 is already opened elsewhere in the console"},
        UnservedCase{"its link's name is taken by a folder",
                     [](const std::string& state) {
                         mkdir((state + "/dev/COM2").c_str(), 0700);
                         return INVALID_DRIVER_HANDLE;
                     },
                     {1, 2, 3}, 1, "/dev/COM2 exists and is not a link: it is a folder"},
        UnservedCase{"a later device claims its number too",
                     [](const std::string& state) {
                         std::string record = FileText(state + "/devices/ROOT#PORTS#0001");
                         record.replace(record.find("PORTS\\0001"), 10, "PORTS\\0003");
                         WriteFileText(state + "/devices/ROOT#PORTS#0003", record);
                         return INVALID_DRIVER_HANDLE;
                     },
                     {1, 2, 3, 2}, 3, "COM2 is also claimed by device ROOT\\PORTS\\0001"}),
    [](const auto& info) { return LabelName(info.param.what); });

// The state folder as an earlier version, or a kill during a record write, left it.
TEST_F(ManagerDevicesTest, StartMakesTheStateFolderPrivateAndClearsInterruptedWrites)
{
    ASSERT_TRUE(MakeFolders(State + "/devices"));
    for (const std::string& folder : {State, State + "/devices"})
        ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    const std::string stale = State + "/devices/.ROOT#PORTS#0000.qln-tmp." + std::to_string(DeadPid()) + ".0";
    const std::string live = State + "/.comdb.qln-tmp." + std::to_string(getppid()) + ".0";
    const std::string foreign = State + "/devices/notes.tmp1-2x";
    for (const std::string& file : {stale, live, foreign})
        WriteFileText(file, "x");

    ASSERT_EQ(Restart().Start().Text(), "");
    ASSERT_NE(Manager->AddPort(0), nullptr);
    EXPECT_FALSE(Exists(stale));
    EXPECT_TRUE(Exists(live));
    EXPECT_TRUE(Exists(foreign));
    for (const char* folder : {"", "/devices", "/dev", "/inf", "/drivers", "/services"}) {
        struct stat st {};
        ASSERT_EQ(stat((State + folder).c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
    }
}

TEST_F(ManagerDevicesTest, AStateFolderThatCannotBeUsedFailsTheStartAndTheAdd)
{
    WriteFileText(Root + "/notafolder", "x");
    setenv("XDG_STATE_HOME", (Root + "/notafolder").c_str(), 1);
    CQLNManager& manager = Restart();
    EXPECT_TRUE(manager.Start().Failed());
    EXPECT_EQ(manager.AddPort(0), nullptr);
    EXPECT_TRUE(Ports().empty());
}

TEST_F(ManagerDevicesTest, AMissingStateFolderIsCreated)
{
    setenv("XDG_STATE_HOME", (Root + "/a/b/c").c_str(), 1);
    CQLNManager& manager = Restart();
    EXPECT_EQ(manager.Start().Text(), "");
    CPortObject* port = manager.AddPort(0);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(Exists(Root + "/a/b/c/quillon/dev/COM1"));
}

// ---- removal --------------------------------------------------------------------

TEST_F(ManagerDevicesTest, RemovingAPortAnApplicationHoldsChangesNothing)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    CPortObject* port = Manager->AddPort(0);
    ASSERT_NE(port, nullptr);
    DriverHandle handle = port->GetDriverHandle();
    HoldPort(1);

    EXPECT_EQ(Manager->RemovePort(port).Errno, EBUSY);
    EXPECT_EQ(Ports(), CQLNManager::PortList{port});
    EXPECT_EQ(port->GetDriverHandle(), handle);
    EXPECT_EQ(Devices().size(), 1u);
    EXPECT_EQ(Links(), LinkNames({1}));

    Held.pop_back();
    EXPECT_EQ(Manager->RemovePort(port).Text(), "");
    EXPECT_TRUE(Ports().empty());
    EXPECT_TRUE(Devices().empty());
    EXPECT_TRUE(Claims().empty());
    EXPECT_TRUE(Links().empty());
}

TEST_F(ManagerDevicesTest, OnlyTheLastPortTakesThePackageFilesWithIt)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    CPortObject* first = Manager->AddPort(0);
    CPortObject* second = Manager->AddPort(0);
    ASSERT_TRUE(first && second);
    const std::set<std::string> installed{"oem0.inf", "oem0.pnf"};
    ASSERT_EQ(Names(State + "/inf"), installed);
    ASSERT_TRUE(Exists(State + "/drivers/quillon.sys"));

    EXPECT_EQ(Manager->RemovePort(first).Text(), "");
    EXPECT_EQ(Names(State + "/inf"), installed);
    EXPECT_TRUE(Exists(State + "/drivers/quillon.sys"));
    EXPECT_EQ(Numbers(), std::vector<int>{2});
    EXPECT_NE(second->GetDriverHandle(), INVALID_DRIVER_HANDLE);

    EXPECT_EQ(Manager->RemovePort(second).Text(), "");
    EXPECT_TRUE(Names(State + "/inf").empty());
    EXPECT_FALSE(Exists(State + "/drivers/quillon.sys"));

    // A port added afterwards installs the package again.
    ASSERT_NE(Manager->AddPort(0), nullptr);
    EXPECT_EQ(Names(State + "/inf"), installed);
}

TEST_F(ManagerDevicesTest, RemovalResultsForWhatIsNotThere)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    EXPECT_TRUE(Manager->RemovePort(nullptr).Failed());
    CPortObject stranger(1, Manager->Lock());
    EXPECT_TRUE(Manager->RemovePort(&stranger).Failed());

    // The device went behind the console's back: a failure, the port stays.
    CPortObject* port = Manager->AddPort(0);
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(unlink((State + "/devices/ROOT#PORTS#0000").c_str()), 0);
    EXPECT_TRUE(Manager->RemovePort(port).Failed());
    EXPECT_EQ(Ports(), CQLNManager::PortList{port});
    EXPECT_EQ(Names(State + "/inf").size(), 2u); // not the last removal: nothing deleted
}

TEST_F(ManagerDevicesTest, ADamagedRecordCannotMakeTheLastRemovalDeleteOtherFiles)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    CPortObject* port = Manager->AddPort(0);
    ASSERT_NE(port, nullptr);
    WriteFileText(Root + "/victim.inf", "keep me");
    WriteFileText(Root + "/victim.pnf", "keep me");
    WriteFileText(Root + "/victim.sys", "keep me");
    std::string record = FileText(State + "/devices/ROOT#PORTS#0000");
    record.replace(record.find("InfPath=oem0.inf"), 16, "InfPath=../../victim.inf");
    WriteFileText(State + "/devices/ROOT#PORTS#0000", record);
    WriteFileText(State + "/services/QUILLON", "[Service]\nName=QUILLON\nImagePath=../victim.sys\n");

    EXPECT_EQ(Manager->RemovePort(port).Text(), "");
    EXPECT_TRUE(Exists(Root + "/victim.inf"));
    EXPECT_TRUE(Exists(Root + "/victim.pnf"));
    EXPECT_TRUE(Exists(Root + "/victim.sys"));
}

} // namespace

namespace {

// Forcing a number that one of the console's own ports has would leave two ports
// that cannot both open, and with all-or-none opening no port would carry data.
TEST_F(ManagerDevicesTest, ANumberOfAnOwnPortIsRefusedEvenWhenForced)
{
    ASSERT_EQ(Restart().Start().Text(), "");
    ASSERT_NE(Manager->AddPort(3), nullptr);
    EXPECT_EQ(Manager->AddPort(3), nullptr);
    EXPECT_EQ(Numbers(), std::vector<int> {3});
    EXPECT_TRUE(AllOpen());
    ASSERT_EQ(Restart().Start().Text(), "");
    EXPECT_EQ(Numbers(), std::vector<int> {3});
    EXPECT_TRUE(AllOpen());
}

} // namespace
