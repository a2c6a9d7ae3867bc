#pragma once
#include <map>
#include <string>
#include <vector>

// One installed device as the device store keeps it: the file devices/<name>, where
// <name> is the instance id with each '\' turned into '#'. The text is a few sections
// of "Key=Value" lines:
//
//   [Device]
//   InstanceId=ROOT\PORTS\0000
//   ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}
//   Description=Quillon
//   Enabled=1
//   HardwareId=QUILLON            (one line per id, in order)
//   FriendlyName=Quillon (COM3)   (absent until the port has a number)
//   [HardwareKey]
//   PortName=COM3
//   [DriverKey]                   (present once a driver is installed)
//   InfPath=oem0.inf
//
// Values run to the end of the line, exactly as stored; no value holds a line break
// (the store refuses to write one). Unknown keys and sections are dropped on the next
// write. Plain data; no thread rules of its own.
struct DeviceRecord {
    std::string InstanceId;
    std::string ClassGuid;
    std::string Description;
    bool Enabled = true;
    std::vector<std::string> HardwareIds; // empty: the property is absent
    bool HasFriendlyName = false;
    std::string FriendlyName;
    std::map<std::string, std::string> HardwareKey;
    bool HasDriverKey = false;
    std::map<std::string, std::string> DriverKey;

    std::string Format() const;
    // False when `text` is not a device record (no InstanceId or ClassGuid, a line
    // that is neither a section, a "Key=Value" pair nor blank, or a value of Enabled
    // other than 0 or 1). `record` is replaced only on success.
    static bool Parse(const std::string& text, DeviceRecord& record);

    // The COM number in "PortName", or 0 when there is none (see PortNumberOf).
    int PortNumber() const;
    // The file name of an instance id, and back; empty when the id cannot be one
    // (empty, or holding '/', '#', a line break or a NUL).
    static std::string FileNameOf(const std::string& instanceId);
};

// The port number of a "PortName" value: the decimal number that starts at its fourth
// character (after "COM"), read as far as there are digits. 0 when the value is
// shorter, has no digits there, is negative or does not fit an int: such a value does
// not name a port.
int PortNumberOf(const std::string& portName);

// True when `value` can be stored in a record: no line break and no NUL.
bool IsStorableValue(const std::string& value);
