// The device store after a crash: what an add or a removal that was cut short left
// half done is completed or taken back. Part of DeviceStore (DeviceStore.h).
//
// An add registers the device's record first (no port number yet), then claims a
// number in the database and writes it into the record; a number the user chose is
// put in while the device is disabled. A removal deletes the record, then releases
// the number. Cut anywhere, the store holds at most: a record of ours without a
// "PortName", a record of ours left disabled, a claim that no record carries.
#include "platform/devices/DeviceStore.h"

#include <set>
#include <unistd.h>

std::vector<std::string> DeviceStore::RepairAfterCrash(const std::string& hardwareId)
{
    std::vector<std::string> done;
    std::vector<DeviceRecord> records;
    if (!LoadAllRecords(records))
        return done;

    std::set<int> carried; // by any record that stays, ours or not
    std::vector<const DeviceRecord*> whole; // ours, with a number
    for (const DeviceRecord& record : records) {
        const bool ours = !record.HardwareIds.empty() && record.HardwareIds.front() == hardwareId;
        const bool named = record.HardwareKey.count("PortName") != 0;
        if (ours && (!named || !record.Enabled)) {
            const char* why = named ? "left it disabled" : "left it without a port number";
            if (::unlink(RecordPath(record.InstanceId).c_str()) == 0) {
                SyncDriver(&record, nullptr);
                done.push_back("Removed device " + record.InstanceId + ": an interrupted port add " + why + ".");
                continue;
            }
            done.push_back("Device " + record.InstanceId + " cannot be removed: an interrupted port add " + why
                           + ".");
        }
        if (const int number = record.PortNumber(); number > 0) {
            carried.insert(number);
            if (ours && named && record.Enabled)
                whole.push_back(&record);
        }
    }

    std::unique_ptr<ComPortDatabase> database = OpenComDatabase();
    uint8_t usage[ComPortDatabase::PortCount] = {};
    uint32_t count = 0;
    if (!database || database->GetCurrentPortUsage(usage, ComPortDatabase::PortCount, &count) != 0)
        return done;
    for (uint32_t n = 1; n <= count; ++n) {
        const int number = static_cast<int>(n);
        if (usage[n - 1] && !carried.count(number) && database->ReleasePort(number))
            done.push_back("Released COM" + std::to_string(number)
                           + " in the COM number database: no device carries it (an interrupted port add or "
                             "removal claimed it).");
    }
    for (const DeviceRecord* record : whole) {
        const int number = record->PortNumber();
        if (number <= static_cast<int>(count) && !usage[number - 1] && database->ClaimPort(number, false)) {
            usage[number - 1] = 1;
            done.push_back("Claimed COM" + std::to_string(number) + " in the COM number database for device "
                           + record->InstanceId + ", which carries it.");
        }
    }
    return done;
}
