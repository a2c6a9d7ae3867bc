#include "platform/devices/DeviceKey.h"

#include <cstring>

#include "platform/devices/DeviceStore.h"

StoreResult DeviceKey::QueryValue(const std::string& name, char* buffer, uint32_t* size)
{
    DeviceRecord record;
    if (!size || !Store.LoadRecord(InstanceId, record))
        return StoreResult::Failed;
    if (Kind == DeviceKeyKind::Driver && !record.HasDriverKey)
        return StoreResult::Failed; // the driver went since the key was opened
    const auto& values = Kind == DeviceKeyKind::Hardware ? record.HardwareKey : record.DriverKey;
    auto it = values.find(name);
    if (it == values.end())
        return StoreResult::InvalidData;
    uint32_t needed = static_cast<uint32_t>(it->second.size() + 1);
    uint32_t room = *size;
    *size = needed;
    if (!buffer || room < needed)
        return StoreResult::InsufficientBuffer;
    memcpy(buffer, it->second.c_str(), needed);
    return StoreResult::Success;
}

bool DeviceKey::SetValue(const std::string& name, const char* data, uint32_t size)
{
    if (Access != KeyAccess::All || name.empty() || !IsStorableValue(name)
        || name.find_first_of("=[") != std::string::npos)
        return false;
    std::string value = data ? std::string(data, size) : std::string();
    value = value.substr(0, value.find('\0'));
    if (!IsStorableValue(value))
        return false;
    DeviceRecord before;
    if (!Store.LoadRecord(InstanceId, before))
        return false;
    if (Kind == DeviceKeyKind::Driver && !before.HasDriverKey)
        return false;
    DeviceRecord after = before;
    (Kind == DeviceKeyKind::Hardware ? after.HardwareKey : after.DriverKey)[name] = value;
    if (!Store.SaveRecord(after))
        return false;
    Store.SyncDriver(&before, &after);
    return true;
}
