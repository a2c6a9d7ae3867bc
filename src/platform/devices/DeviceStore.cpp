#include "platform/devices/DeviceStore.h"
#include "platform/base/Text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/config/AtomicFile.h"
#include "platform/base/Folders.h"
#include "platform/pty/PortDriver.h"

namespace {

constexpr size_t RecordLimit = 64 * 1024;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The number at the end of an instance id ("ROOT\PORTS\0012" → 12), or -1.
long IdSuffix(const std::string& instanceId)
{
    size_t slash = instanceId.rfind('\\');
    std::string tail = slash == std::string::npos ? instanceId : instanceId.substr(slash + 1);
    if (tail.empty() || tail.size() > 9
        || !std::all_of(tail.begin(), tail.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    return std::stol(tail);
}

// The number the driver serves for a device: an enabled device with a driver
// installed and a port number; 0 for any other.
int ServedNumber(const DeviceRecord* record)
{
    return record && record->Enabled && record->HasDriverKey ? record->PortNumber() : 0;
}

bool ByInstanceId(const DeviceRecord& a, const DeviceRecord& b)
{
    long x = IdSuffix(a.InstanceId), y = IdSuffix(b.InstanceId);
    if (x != y)
        return x < y;
    return a.InstanceId < b.InstanceId;
}

std::string MultiString(const std::vector<std::string>& strings)
{
    std::string out;
    for (const auto& s : strings) {
        out += s;
        out += '\0';
    }
    out += '\0';
    return out;
}

} // namespace

DeviceStore::DeviceStore(std::string stateFolder) : StateFolder(std::move(stateFolder))
{
}

std::string DeviceStore::RecordPath(const std::string& instanceId) const
{
    std::string name = DeviceRecord::FileNameOf(instanceId);
    return name.empty() ? std::string() : DevicesFolder() + "/" + name;
}

bool DeviceStore::LoadRecord(const std::string& instanceId, DeviceRecord& record) const
{
    std::string path = RecordPath(instanceId);
    std::string text;
    if (path.empty() || ReadWholeFile(path, text, RecordLimit) != FileReadResult::Ok)
        return false;
    DeviceRecord parsed;
    if (!DeviceRecord::Parse(text, parsed) || parsed.InstanceId != instanceId)
        return false;
    record = std::move(parsed);
    return true;
}

bool DeviceStore::SaveRecord(const DeviceRecord& record)
{
    std::string path = RecordPath(record.InstanceId);
    if (path.empty() || !MakeFolders(DevicesFolder(), PrivateFolderMode))
        return false;
    return !ReplaceFileAtomically(path, record.Format()).Failed();
}

bool DeviceStore::LoadAllRecords(std::vector<DeviceRecord>& records) const
{
    records.clear();
    if (!MakeFolders(DevicesFolder(), PrivateFolderMode))
        return false;
    DIR* dir = opendir(DevicesFolder().c_str());
    if (!dir)
        return false;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (!name.empty() && name[0] != '.' && name.find(".tmp") == std::string::npos)
            names.push_back(name);
    }
    closedir(dir);
    for (const auto& name : names) {
        std::string text;
        DeviceRecord record;
        if (ReadWholeFile(DevicesFolder() + "/" + name, text, RecordLimit) != FileReadResult::Ok
            || !DeviceRecord::Parse(text, record) || DeviceRecord::FileNameOf(record.InstanceId) != name)
            continue; // not one of our records: skipped
        records.push_back(std::move(record));
    }
    std::sort(records.begin(), records.end(), ByInstanceId);
    return true;
}

std::unique_ptr<DeviceInfoSet> DeviceStore::GetPresentDevices(const std::string& classGuid,
                                                              const std::string& enumerator)
{
    std::vector<DeviceRecord> records;
    if (!LoadAllRecords(records))
        return nullptr;
    auto set = std::make_unique<DeviceInfoSet>(classGuid);
    for (const auto& record : records) {
        if (!EqualsIgnoringCase(record.ClassGuid, classGuid)
            || !StartsWithNoCase(record.InstanceId, enumerator + "\\"))
            continue;
        DeviceInfoSet::Element element;
        element.InstanceId = record.InstanceId;
        element.Registered = true;
        set->Elements.push_back(std::move(element));
    }
    for (const auto& record : records)
        SyncDriver(nullptr, &record);
    return set;
}

void DeviceStore::AttachPresentDevices()
{
    std::vector<DeviceRecord> records;
    if (!LoadAllRecords(records))
        return;
    for (const auto& record : records)
        SyncDriver(nullptr, &record);
}

std::unique_ptr<DeviceInfoSet> DeviceStore::CreateDeviceInfoList(const std::string& classGuid)
{
    return std::make_unique<DeviceInfoSet>(classGuid);
}

bool DeviceStore::CreateDeviceInfo(DeviceInfoSet& set, const std::string& baseName,
                                   const std::string& classGuid, const std::string& description,
                                   DeviceInfo* device)
{
    if (!device || baseName.empty() || !IsStorableValue(description)
        || !IsStorableValue(classGuid) || !EqualsIgnoringCase(classGuid, set.ClassGuid))
        return false;
    const std::string prefix = "ROOT\\" + ToUpperAscii(baseName) + "\\";
    if (DeviceRecord::FileNameOf(prefix + "0").empty())
        return false;
    std::vector<DeviceRecord> records;
    if (!LoadAllRecords(records))
        return false;
    long next = 0;
    for (const auto& record : records) {
        if (StartsWithNoCase(record.InstanceId, prefix))
            next = std::max(next, IdSuffix(record.InstanceId) + 1);
    }
    for (const auto& element : set.Elements) {
        if (StartsWithNoCase(element.InstanceId, prefix))
            next = std::max(next, IdSuffix(element.InstanceId) + 1);
    }
    // A leftover file that is not a record must not be overwritten either.
    char digits[16];
    std::string id;
    struct stat st {};
    do {
        snprintf(digits, sizeof digits, "%04ld", next++);
        id = prefix + digits;
    } while (lstat(RecordPath(id).c_str(), &st) == 0);

    DeviceInfoSet::Element element;
    element.InstanceId = id;
    element.Pending.InstanceId = id;
    element.Pending.ClassGuid = classGuid;
    element.Pending.Description = description;
    set.Elements.push_back(std::move(element));
    device->InstanceId = id;
    return true;
}

bool DeviceStore::EnumDeviceInfo(const DeviceInfoSet& set, int index, DeviceInfo* device) const
{
    if (!device || index < 0 || static_cast<size_t>(index) >= set.Elements.size())
        return false;
    device->InstanceId = set.Elements[static_cast<size_t>(index)].InstanceId;
    return true;
}

DeviceRecord* DeviceStore::Resolve(DeviceInfoSet& set, const DeviceInfo& device,
                                   DeviceRecord& loaded, bool& registered) const
{
    DeviceInfoSet::Element* element = set.Find(device.InstanceId);
    if (!element)
        return nullptr;
    registered = element->Registered;
    if (!registered)
        return &element->Pending;
    return LoadRecord(device.InstanceId, loaded) ? &loaded : nullptr;
}

bool DeviceStore::StoreRecord(DeviceInfoSet& set, const DeviceInfo& device, const DeviceRecord& before,
                        const DeviceRecord& after, bool registered)
{
    if (!registered) {
        DeviceInfoSet::Element* element = set.Find(device.InstanceId);
        if (!element)
            return false;
        element->Pending = after;
        return true;
    }
    if (!SaveRecord(after))
        return false;
    SyncDriver(&before, &after);
    return true;
}

StoreResult DeviceStore::GetDeviceProperty(DeviceInfoSet& set, const DeviceInfo& device,
                                           DeviceProperty property, uint8_t* buffer,
                                           uint32_t size, uint32_t* required)
{
    DeviceRecord loaded;
    bool registered = false;
    const DeviceRecord* record = Resolve(set, device, loaded, registered);
    if (!record)
        return StoreResult::Failed;
    std::string value;
    switch (property) {
    case DeviceProperty::HardwareId:
        if (record->HardwareIds.empty())
            return StoreResult::InvalidData;
        value = MultiString(record->HardwareIds);
        break;
    case DeviceProperty::FriendlyName:
        if (!record->HasFriendlyName)
            return StoreResult::InvalidData;
        value = record->FriendlyName + '\0';
        break;
    default:
        return StoreResult::Failed;
    }
    if (required)
        *required = static_cast<uint32_t>(value.size());
    if (!buffer || size < value.size())
        return StoreResult::InsufficientBuffer;
    memcpy(buffer, value.data(), value.size());
    return StoreResult::Success;
}

bool DeviceStore::SetDeviceProperty(DeviceInfoSet& set, const DeviceInfo& device,
                                    DeviceProperty property, const uint8_t* data, uint32_t size)
{
    DeviceRecord loaded;
    bool registered = false;
    DeviceRecord* record = Resolve(set, device, loaded, registered);
    if (!record)
        return false;
    const DeviceRecord before = *record;
    DeviceRecord after = *record;
    std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    switch (property) {
    case DeviceProperty::HardwareId: {
        after.HardwareIds.clear();
        size_t pos = 0;
        while (pos < bytes.size()) {
            size_t end = bytes.find('\0', pos);
            if (end == std::string::npos)
                end = bytes.size();
            if (end == pos)
                break; // the empty string that ends the list
            std::string id = bytes.substr(pos, end - pos);
            if (!IsStorableValue(id))
                return false;
            after.HardwareIds.push_back(id);
            pos = end + 1;
        }
        break;
    }
    case DeviceProperty::FriendlyName:
        after.HasFriendlyName = !bytes.empty();
        after.FriendlyName = bytes.substr(0, bytes.find('\0'));
        if (!IsStorableValue(after.FriendlyName))
            return false;
        break;
    default:
        return false;
    }
    return StoreRecord(set, device, before, after, registered);
}

bool DeviceStore::RegisterDevice(DeviceInfoSet& set, const DeviceInfo& device)
{
    DeviceInfoSet::Element* element = set.Find(device.InstanceId);
    if (!element || element->Registered)
        return false;
    struct stat st {};
    if (RecordPath(device.InstanceId).empty() || lstat(RecordPath(device.InstanceId).c_str(), &st) == 0)
        return false; // the id was taken meanwhile
    if (!SaveRecord(element->Pending))
        return false;
    element->Registered = true;
    SyncDriver(nullptr, &element->Pending);
    element->Pending = DeviceRecord();
    return true;
}

bool DeviceStore::RemoveDevice(DeviceInfoSet& set, const DeviceInfo& device)
{
    DeviceInfoSet::Element* element = set.Find(device.InstanceId);
    if (!element)
        return false;
    if (!element->Registered) {
        set.Elements.erase(set.Elements.begin() + (element - set.Elements.data()));
        return true;
    }
    DeviceRecord record;
    if (!LoadRecord(device.InstanceId, record) || unlink(RecordPath(device.InstanceId).c_str()) != 0)
        return false;
    int number = record.PortNumber();
    if (number > 0 && !NumberCarriedByOther(number, record.InstanceId, false)) {
        if (auto database = OpenComDatabase())
            database->ReleasePort(number);
    }
    SyncDriver(&record, nullptr);
    return true;
}

bool DeviceStore::ChangeState(DeviceInfoSet& set, const DeviceInfo& device, DeviceStateChange change)
{
    DeviceRecord loaded;
    bool registered = false;
    DeviceRecord* record = Resolve(set, device, loaded, registered);
    if (!record || !registered)
        return false;
    DeviceRecord after = *record;
    after.Enabled = change == DeviceStateChange::Enable;
    return StoreRecord(set, device, *record, after, registered);
}

std::unique_ptr<DeviceKey> DeviceStore::OpenDeviceKey(DeviceInfoSet& set, const DeviceInfo& device,
                                                      DeviceKeyKind kind, KeyAccess access)
{
    DeviceRecord loaded;
    bool registered = false;
    DeviceRecord* record = Resolve(set, device, loaded, registered);
    if (!record || !registered || (kind == DeviceKeyKind::Driver && !record->HasDriverKey))
        return nullptr;
    return std::unique_ptr<DeviceKey>(new DeviceKey(*this, device.InstanceId, kind, access));
}

std::unique_ptr<ComPortDatabase> DeviceStore::OpenComDatabase()
{
    return ComPortDatabase::Open(StateFolder);
}

bool DeviceStore::DeleteFile(const std::string& path)
{
    struct stat st {};
    if (path.empty() || lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return unlink(path.c_str()) == 0;
}

bool DeviceStore::NumberCarriedByOther(int number, const std::string& instanceId,
                                       bool servedOnly) const
{
    std::vector<DeviceRecord> records;
    if (!LoadAllRecords(records))
        return false;
    for (const auto& record : records) {
        if (record.InstanceId != instanceId
            && (servedOnly ? ServedNumber(&record) : record.PortNumber()) == number)
            return true;
    }
    return false;
}

void DeviceStore::SyncDriver(const DeviceRecord* before, const DeviceRecord* after)
{
    int oldNumber = ServedNumber(before);
    int newNumber = ServedNumber(after);
    PortDriver& driver = PortDriver::Instance();
    if (oldNumber > 0 && oldNumber != newNumber
        && !NumberCarriedByOther(oldNumber, before->InstanceId, true))
        driver.DetachDevice(oldNumber);
    if (newNumber > 0 && !driver.IsAttached(newNumber))
        driver.AttachDevice(newNumber, LinkFolder());
}
