#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/devices/DeviceStore.h"
#include "platform/devices/DriverPackage.h"
#include "support/DeviceState.h"

using namespace qlntest;

namespace {

class DeviceStoreTest : public DeviceStateTest {
protected:
    // Creates and registers a device with the multi-string `ids` (size with both NULs).
    DeviceInfo Register(DeviceStore& store, DeviceInfoSet& set, const char* ids, uint32_t size)
    {
        DeviceInfo device;
        EXPECT_TRUE(store.CreateDeviceInfo(set, "Ports", PortsClassGuid, "Quillon", &device));
        EXPECT_TRUE(store.SetDeviceProperty(set, device, DeviceProperty::HardwareId,
                                            reinterpret_cast<const uint8_t*>(ids), size));
        EXPECT_TRUE(store.RegisterDevice(set, device));
        return device;
    }

    std::string PortName(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device)
    {
        auto key = store.OpenDeviceKey(set, device, DeviceKeyKind::Hardware, KeyAccess::Read);
        if (!key)
            return "<no key>";
        char buffer[128];
        uint32_t size = sizeof buffer;
        return key->QueryValue("PortName", buffer, &size) == StoreResult::Success ? buffer : "<none>";
    }

    std::string Friendly(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device)
    {
        char buffer[128];
        uint32_t size = 0;
        if (store.GetDeviceProperty(set, device, DeviceProperty::FriendlyName,
                                    reinterpret_cast<uint8_t*>(buffer), sizeof buffer, &size)
            != StoreResult::Success)
            return "<none>";
        return buffer;
    }
};

constexpr char Quillon[] = "QUILLON\0";

TEST_F(DeviceStoreTest, InstallGivesEachDeviceTheLowestFreeNumberAndInstallsThePackageOnce)
{
    DeviceStore store(State);
    auto database = store.OpenComDatabase();
    ASSERT_TRUE(database);
    ASSERT_TRUE(database->ClaimPort(1, false)); // a number in use before

    auto set = store.CreateDeviceInfoList(PortsClassGuid);
    DeviceInfo first = Register(store, *set, Quillon, sizeof Quillon);
    DeviceInfo second = Register(store, *set, Quillon, sizeof Quillon);
    EXPECT_EQ(Friendly(store, *set, first), "<none>");
    bool reboot = true;
    ASSERT_TRUE(store.UpdateDriverForPlugAndPlayDevices("QUILLON", CopyPackage(), true, &reboot));
    EXPECT_FALSE(reboot);

    EXPECT_EQ(PortName(store, *set, first), "COM2");
    EXPECT_EQ(PortName(store, *set, second), "COM3");
    EXPECT_EQ(Friendly(store, *set, second), "Quillon (COM3)");
    EXPECT_EQ(Claims(), (std::set<int>{1, 2, 3}));
    EXPECT_EQ(Links(), (std::set<std::string>{"COM2", "COM3"}));
    EXPECT_TRUE(PortDriver::Instance().IsAttached(2));

    // Installing the same package again reuses its copy and keeps the numbers.
    ASSERT_TRUE(store.UpdateDriverForPlugAndPlayDevices("QUILLON", CopyPackage(), true, nullptr));
    EXPECT_EQ(Names(State + "/inf"), (std::set<std::string>{"oem0.inf", "oem0.pnf"}));
    EXPECT_EQ(FileText(State + "/inf/oem0.inf"), FileText(CopyPackage()));
    EXPECT_TRUE(Exists(State + "/drivers/quillon.sys"));
    EXPECT_EQ(PortName(store, *set, first), "COM2");

    auto driverKey = store.OpenDeviceKey(*set, first, DeviceKeyKind::Driver, KeyAccess::Read);
    ASSERT_TRUE(driverKey);
    char inf[32];
    uint32_t size = sizeof inf;
    ASSERT_EQ(driverKey->QueryValue("InfPath", inf, &size), StoreResult::Success);
    EXPECT_STREQ(inf, "oem0.inf");

    uint32_t needed = 0;
    ASSERT_EQ(store.QueryServiceImagePath("QUILLON", nullptr, 0, &needed), StoreResult::InsufficientBuffer);
    std::vector<char> image(needed);
    ASSERT_EQ(store.QueryServiceImagePath("QUILLON", image.data(), needed, &needed), StoreResult::Success);
    EXPECT_STREQ(image.data(), "drivers/quillon.sys");
}

TEST_F(DeviceStoreTest, PropertiesReportTooSmallAbsentAndMultiStrings)
{
    DeviceStore store(State);
    auto set = store.CreateDeviceInfoList(PortsClassGuid);
    DeviceInfo device;
    ASSERT_TRUE(store.CreateDeviceInfo(*set, "Ports", PortsClassGuid, "Quillon", &device));
    uint8_t buffer[64];
    uint32_t needed = 0;
    EXPECT_EQ(store.GetDeviceProperty(*set, device, DeviceProperty::HardwareId, buffer, sizeof buffer, &needed),
              StoreResult::InvalidData);
    constexpr char ids[] = "ABC\0QUILLON\0";
    ASSERT_TRUE(store.SetDeviceProperty(*set, device, DeviceProperty::HardwareId,
                                        reinterpret_cast<const uint8_t*>(ids), sizeof ids));
    EXPECT_EQ(store.GetDeviceProperty(*set, device, DeviceProperty::HardwareId, buffer, 4, &needed),
              StoreResult::InsufficientBuffer);
    EXPECT_EQ(needed, sizeof ids);
    ASSERT_EQ(store.GetDeviceProperty(*set, device, DeviceProperty::HardwareId, buffer, needed, &needed),
              StoreResult::Success);
    EXPECT_EQ(0, memcmp(buffer, ids, sizeof ids));
    // A value with a line break would break the record: refused.
    constexpr char bad[] = "A\nB\0";
    EXPECT_FALSE(store.SetDeviceProperty(*set, device, DeviceProperty::HardwareId,
                                         reinterpret_cast<const uint8_t*>(bad), sizeof bad));
}

TEST_F(DeviceStoreTest, AnElementNeverRegisteredLeavesNothingBehind)
{
    DeviceStore store(State);
    {
        auto set = store.CreateDeviceInfoList(PortsClassGuid);
        DeviceInfo device;
        ASSERT_TRUE(store.CreateDeviceInfo(*set, "Ports", PortsClassGuid, "Quillon", &device));
        EXPECT_EQ(device.InstanceId, "ROOT\\PORTS\\0000");
        EXPECT_FALSE(store.OpenDeviceKey(*set, device, DeviceKeyKind::Hardware, KeyAccess::All));
        EXPECT_FALSE(store.ChangeState(*set, device, DeviceStateChange::Disable));
    }
    EXPECT_TRUE(Devices().empty());
    auto present = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    ASSERT_TRUE(present);
    EXPECT_EQ(present->Count(), 0u);
}

TEST_F(DeviceStoreTest, PortsFollowStateChangesRenumberingAndRemoval)
{
    DeviceStore store(State);
    auto set = store.CreateDeviceInfoList(PortsClassGuid);
    DeviceInfo device = Register(store, *set, Quillon, sizeof Quillon);
    ASSERT_TRUE(store.UpdateDriverForPlugAndPlayDevices("QUILLON", CopyPackage(), true, nullptr));
    EXPECT_EQ(Links(), (std::set<std::string>{"COM1"}));

    ASSERT_TRUE(store.ChangeState(*set, device, DeviceStateChange::Disable));
    EXPECT_TRUE(Links().empty());
    auto key = store.OpenDeviceKey(*set, device, DeviceKeyKind::Hardware, KeyAccess::All);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("PortName", "COM9", 5));
    EXPECT_TRUE(Links().empty());
    ASSERT_TRUE(store.ChangeState(*set, device, DeviceStateChange::Enable));
    EXPECT_EQ(Links(), (std::set<std::string>{"COM9"}));

    // Renumbering an enabled device moves its link.
    ASSERT_TRUE(key->SetValue("PortName", "COM4", 5));
    EXPECT_EQ(Links(), (std::set<std::string>{"COM4"}));
    auto readOnly = store.OpenDeviceKey(*set, device, DeviceKeyKind::Hardware, KeyAccess::Read);
    EXPECT_FALSE(readOnly->SetValue("PortName", "COM5", 5));

    auto database = store.OpenComDatabase();
    ASSERT_TRUE(database->ClaimPort(4, true));
    ASSERT_TRUE(store.RemoveDevice(*set, device));
    EXPECT_TRUE(Devices().empty());
    EXPECT_TRUE(Links().empty());
    EXPECT_FALSE(PortDriver::Instance().IsAttached(4));
    EXPECT_EQ(Claims().count(4), 0u);
}

TEST_F(DeviceStoreTest, ARestartBringsThePortsBackAndSkipsWhatIsNotOurs)
{
    {
        DeviceStore store(State);
        auto set = store.CreateDeviceInfoList(PortsClassGuid);
        Register(store, *set, Quillon, sizeof Quillon);
        DeviceInfo disabled = Register(store, *set, Quillon, sizeof Quillon);
        Register(store, *set, Quillon, sizeof Quillon);
        ASSERT_TRUE(store.UpdateDriverForPlugAndPlayDevices("QUILLON", CopyPackage(), true, nullptr));
        ASSERT_TRUE(store.ChangeState(*set, disabled, DeviceStateChange::Disable));
    }
    // A new process: nothing attached; foreign and damaged files lie in the folder.
    PortDriver::Instance().DetachAll();
    WriteFileText(State + "/devices/garbage", "\x01\x02 not a record");
    WriteFileText(State + "/devices/ROOT#PORTS#0099", "[Device]\nInstanceId=ROOT\\PORTS\\0005\nClassGuid=x\n");
    WriteFileText(State + "/devices/ROOT#MODEM#0000",
              "[Device]\nInstanceId=ROOT\\MODEM\\0000\nClassGuid={4D36E96D-E325-11CE-BFC1-08002BE10318}\n"
              "[HardwareKey]\nPortName=COM7\n");
    mkdir((State + "/devices/ROOT#PORTS#0050").c_str(), 0755); // a record that is a folder

    DeviceStore store(State);
    auto present = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    ASSERT_TRUE(present);
    ASSERT_EQ(present->Count(), 3u);
    std::vector<std::string> ids;
    DeviceInfo device;
    for (int i = 0; store.EnumDeviceInfo(*present, i, &device); ++i)
        ids.push_back(device.InstanceId);
    EXPECT_EQ(ids, (std::vector<std::string>{"ROOT\\PORTS\\0000", "ROOT\\PORTS\\0001", "ROOT\\PORTS\\0002"}));
    EXPECT_EQ(Links(), (std::set<std::string>{"COM1", "COM3"})); // the disabled COM2 stays down

    // New ids never come before the old ones, whatever lies in the folder.
    auto set = store.CreateDeviceInfoList(PortsClassGuid);
    ASSERT_TRUE(store.CreateDeviceInfo(*set, "Ports", PortsClassGuid, "Quillon", &device));
    EXPECT_EQ(device.InstanceId, "ROOT\\PORTS\\0003");
}

TEST_F(DeviceStoreTest, AnUnusableStateFolderFailsWithoutHarm)
{
    WriteFileText(Root + "/file", "x");
    DeviceStore store(Root + "/file/quillon"); // a path through a regular file
    EXPECT_FALSE(store.GetPresentDevices(PortsClassGuid, RootEnumerator));
    EXPECT_FALSE(store.OpenComDatabase());
    auto set = store.CreateDeviceInfoList(PortsClassGuid);
    DeviceInfo device;
    EXPECT_FALSE(store.CreateDeviceInfo(*set, "Ports", PortsClassGuid, "Quillon", &device));
    EXPECT_FALSE(store.UpdateDriverForPlugAndPlayDevices("QUILLON", CopyPackage(), true, nullptr));

    // The devices folder replaced by a file: listing fails, nothing crashes.
    DeviceStore other(State);
    ASSERT_TRUE(MakeFolders(State));
    WriteFileText(State + "/devices", "not a folder");
    EXPECT_FALSE(other.GetPresentDevices(PortsClassGuid, RootEnumerator));
}

} // namespace
