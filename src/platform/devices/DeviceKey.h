#pragma once
#include <cstdint>
#include <string>

#include "platform/devices/DeviceStoreTypes.h"

class DeviceStore;

// An open registry key of a registered device: its hardware key ("PortName") or its
// driver key ("InfPath"). Values are strings (REG_SZ). Each call reads or replaces the
// device's record on disk, so a key sees changes made through other keys. Destroying
// the key closes it; it must not outlive the store that opened it. Window thread only.
class DeviceKey {
public:
    DeviceKey(const DeviceKey&) = delete;
    DeviceKey& operator=(const DeviceKey&) = delete;

    // Copies the value `name` with its terminating NUL into `buffer`. `size` holds the
    // buffer's size on entry and the value's size (NUL included) on return.
    // Success; InsufficientBuffer when it does not fit (nothing copied); InvalidData
    // when the key has no such value; Failed when the record cannot be read.
    StoreResult QueryValue(const std::string& name, char* buffer, uint32_t* size);
    // Stores the string `data` of `size` bytes (a terminating NUL among them ends the
    // value there). False for a key opened for reading only, a value holding a line
    // break, or a record that cannot be read or replaced. Writing "PortName" of an
    // enabled device moves its port to the new number.
    bool SetValue(const std::string& name, const char* data, uint32_t size);

private:
    friend class DeviceStore;
    DeviceKey(DeviceStore& store, std::string instanceId, DeviceKeyKind kind, KeyAccess access)
        : Store(store), InstanceId(std::move(instanceId)), Kind(kind), Access(access) {}

    DeviceStore& Store;
    std::string InstanceId;
    DeviceKeyKind Kind;
    KeyAccess Access;
};
