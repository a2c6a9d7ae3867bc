// A device's record: its file name and text, and the port number of its port name.
#include <gtest/gtest.h>

#include "platform/devices/DeviceRecord.h"
#include "platform/devices/DeviceStoreTypes.h"

namespace {

TEST(DeviceRecordTest, PortNumbersFromPortNames)
{
    const std::pair<const char*, int> cases[] = {
        {"COM1", 1}, {"COM256", 256}, {"COM12x", 12}, {"COM", 0}, {"", 0}, {"COMx", 0},
        {"COM0", 0}, {"COM-3", 0}, {"COM99999999999", 0}, {"LPT3", 3},
    };
    for (const auto& [name, number] : cases)
        EXPECT_EQ(PortNumberOf(name), number) << name;
}

TEST(DeviceRecordTest, RoundTripsAndRejectsWhatIsNotARecord)
{
    DeviceRecord record;
    record.InstanceId = "ROOT\\PORTS\\0003";
    record.ClassGuid = PortsClassGuid;
    record.Description = "Quillon";
    record.Enabled = false;
    record.HardwareIds = {"QUILLON", "OTHER"};
    record.HasFriendlyName = true;
    record.FriendlyName = "Quillon (COM3)";
    record.HardwareKey["PortName"] = "COM3";
    record.HasDriverKey = true;
    record.DriverKey["InfPath"] = "oem0.inf";
    DeviceRecord back;
    ASSERT_TRUE(DeviceRecord::Parse(record.Format(), back));
    EXPECT_EQ(back.Format(), record.Format());
    EXPECT_EQ(back.PortNumber(), 3);
    EXPECT_EQ(DeviceRecord::FileNameOf(record.InstanceId), "ROOT#PORTS#0003");

    const char* bad[] = {
        "", "InstanceId=x\n", "[Device]\nClassGuid=x\n", "[Device]\nInstanceId=a\n",
        "[Device]\nInstanceId=a\nClassGuid=x\nEnabled=yes\n", "[Device\nInstanceId=a\nClassGuid=x\n",
        "[Device]\nInstanceId=a\nClassGuid=x\njunk line\n",
    };
    for (const char* text : bad)
        EXPECT_FALSE(DeviceRecord::Parse(text, back)) << text;
    for (const char* id : {"", "a/b", "a#b", ".", ".."})
        EXPECT_EQ(DeviceRecord::FileNameOf(id), "") << id;
}

} // namespace
