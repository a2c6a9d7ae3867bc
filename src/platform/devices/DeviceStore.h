#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices/ComPortDatabase.h"
#include "platform/devices/DeviceInfoSet.h"
#include "platform/devices/DeviceKey.h"
#include "platform/devices/DeviceRecord.h"
#include "platform/devices/DeviceStoreTypes.h"

struct DriverPackage;

// The device store: the console's stand-in for the device tree, the device registry
// keys, the Ports class installer, the COM-port database and the service records.
// Everything lives under one state folder (production: StateFolder()):
//
//   devices/<id>            one record per registered device (DeviceRecord.h)
//   comdb                   the COM numbers claimed (ComPortDatabase.h)
//   inf/oem<k>.inf, .pnf    installed copies of the driver package and their twins
//   drivers/<file>          the driver file the package installs
//   services/<name>         the service record: its image path
//   dev/COM<n>              the links of the present ports (made by the port driver)
//
// Every record is replaced atomically. Missing folders are created when needed;
// files that are not records of ours are skipped, never fatal.
//
// The store keeps the port driver in step with the records: a device that is
// registered, enabled, has a driver installed (a driver key) and a "PortName" naming
// a number is attached in the driver
// (PortDriver::AttachDevice, link folder <state>/dev); a device that goes, is
// disabled or changes its number is detached (unless another such device still
// carries the number). Listing the present devices attaches every one that is not
// yet attached, so the ports come back when the console starts again.
//
// The store holds no state of its own beyond the folder: several stores on the same
// folder see the same devices. Window thread only.
class DeviceStore {
public:
    explicit DeviceStore(std::string stateFolder);

    const std::string& Folder() const { return StateFolder; }

    // The present (registered) devices of `classGuid` whose instance id starts with
    // `enumerator` + "\" (both compared without regard to case), ordered by instance
    // id. Null when the devices folder cannot be created or read.
    std::unique_ptr<DeviceInfoSet> GetPresentDevices(const std::string& classGuid,
                                                     const std::string& enumerator);
    // An empty set for `classGuid`.
    std::unique_ptr<DeviceInfoSet> CreateDeviceInfoList(const std::string& classGuid);
    // A new element in `set` with a generated instance id, "ROOT\<BASENAME>\<nnnn>",
    // numbered after every id in use, so newer devices always list after older ones.
    bool CreateDeviceInfo(DeviceInfoSet& set, const std::string& baseName,
                          const std::string& classGuid, const std::string& description,
                          DeviceInfo* device);
    // The element at `index`; false past the end.
    bool EnumDeviceInfo(const DeviceInfoSet& set, int index, DeviceInfo* device) const;

    // A property as the system gives it: the hardware ids as a multi-string (each id
    // with its NUL, then one more NUL), the friendly name as a string with its NUL.
    // `required` (may be null) receives the size. InsufficientBuffer when `size` is
    // smaller (nothing copied), InvalidData when absent, Failed when the element or
    // its record cannot be had.
    StoreResult GetDeviceProperty(DeviceInfoSet& set, const DeviceInfo& device,
                                  DeviceProperty property, uint8_t* buffer, uint32_t size,
                                  uint32_t* required);
    // Stores a property in the same form; null data or size 0 removes it.
    bool SetDeviceProperty(DeviceInfoSet& set, const DeviceInfo& device,
                           DeviceProperty property, const uint8_t* data, uint32_t size);

    // Writes the element's record: the device becomes present. False when it is
    // already registered or the record cannot be written.
    bool RegisterDevice(DeviceInfoSet& set, const DeviceInfo& device);
    // Removes the device: its record goes, its COM number is released in the
    // database and its port is detached (both unless another registered device
    // carries the same number). An element that was never registered just leaves
    // the set. False when the record cannot be read or deleted.
    bool RemoveDevice(DeviceInfoSet& set, const DeviceInfo& device);
    // Disables or enables a registered device; the port follows.
    bool ChangeState(DeviceInfoSet& set, const DeviceInfo& device, DeviceStateChange change);
    // The hardware key (always there) or the driver key (there once a driver is
    // installed) of a registered device; null otherwise.
    std::unique_ptr<DeviceKey> OpenDeviceKey(DeviceInfoSet& set, const DeviceInfo& device,
                                             DeviceKeyKind kind, KeyAccess access);

    // Installs the driver package `infPath` for every registered device with
    // `hardwareId` among its hardware ids, as the Ports class installer does:
    //  - copies the package to inf/oem<k>.inf (the copy of an identical package is
    //    reused) with its twin inf/oem<k>.pnf, puts the driver file in drivers/ (the
    //    file of that name beside the package, or a stand-in) and records the
    //    package's service with its image path;
    //  - gives each such device the driver key value "InfPath" = "oem<k>.inf" and the
    //    package's device description; a device without a port number gets the
    //    lowest free number, claimed in the database, as "PortName" "COM<n>" and the
    //    friendly name "<description> (COM<n>)". When no number is free, or the claim
    //    cannot be written, the device stays without one.
    // Without `force`, devices that already have a driver are left as they are.
    // False when the package is missing or not valid for `hardwareId`, no device
    // carries the id, or a file cannot be written. `rebootRequired` (may be null)
    // is always set to false.
    bool UpdateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                           const std::string& infPath, bool force,
                                           bool* rebootRequired);

    // The COM-port database; null when it is not available.
    std::unique_ptr<ComPortDatabase> OpenComDatabase();

    // The image path of the service `name`, relative to the state folder, as a string
    // with its NUL; results as for GetDeviceProperty. Failed when there is no such
    // service.
    StoreResult QueryServiceImagePath(const std::string& name, char* buffer, uint32_t size,
                                      uint32_t* required);

    // The folder the installed files are relative to: the state folder itself.
    std::string WindowsDirectory() const { return StateFolder; }
    // Deletes a file (not a folder). False when it could not be deleted.
    bool DeleteFile(const std::string& path);

    // Attaches every present, enabled device with a port number that the driver does
    // not have yet. Listing the present devices does this too.
    void AttachPresentDevices();

    // Puts right what an add or a removal cut short by a crash left (run at start,
    // before the devices are listed): removes each record of a device whose first
    // hardware id is `hardwareId` and that has no "PortName" (also an empty hardware
    // key) or is disabled (only an add disables a device, while it renumbers it);
    // releases each number the database claims that no record carries; claims the
    // number of each remaining such device that the database does not. Records of
    // other devices and files that are not records are left alone. What was done,
    // one line each in words for the user; empty when there was nothing to do.
    std::vector<std::string> RepairAfterCrash(const std::string& hardwareId);

private:
    friend class DeviceKey;

    std::string DevicesFolder() const { return StateFolder + "/devices"; }
    std::string LinkFolder() const { return StateFolder + "/dev"; }
    std::string RecordPath(const std::string& instanceId) const;
    bool LoadRecord(const std::string& instanceId, DeviceRecord& record) const;
    bool SaveRecord(const DeviceRecord& record);
    // Every readable record of ours, ordered by instance id; false when the devices
    // folder cannot be created or read.
    bool LoadAllRecords(std::vector<DeviceRecord>& records) const;
    // The record behind an element: loaded for a registered one, the pending one
    // otherwise. Null when there is no such element or its record cannot be read.
    DeviceRecord* Resolve(DeviceInfoSet& set, const DeviceInfo& device, DeviceRecord& loaded,
                          bool& registered) const;
    bool StoreRecord(DeviceInfoSet& set, const DeviceInfo& device, const DeviceRecord& before,
               const DeviceRecord& after, bool registered);
    // Brings the driver in step with a record that changed from `before` to `after`
    // (either may be null: a device that appeared or went).
    void SyncDriver(const DeviceRecord* before, const DeviceRecord* after);
    // Whether a registered device other than `instanceId` has the port number
    // (`servedOnly`: and is enabled with a driver, so the driver serves it).
    bool NumberCarriedByOther(int number, const std::string& instanceId, bool servedOnly) const;
    bool InstallPackageFiles(const DriverPackage& package, const std::string& infPath,
                             std::string& infName);

    std::string StateFolder;
};
