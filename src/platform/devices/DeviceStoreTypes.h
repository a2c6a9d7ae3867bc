#pragma once

// The Ports device setup class and the enumerator of the console's devices.
constexpr const char* PortsClassGuid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
constexpr const char* RootEnumerator = "Root";

// Device properties the store keeps, numbered as the system numbers them.
enum class DeviceProperty { HardwareId = 1, FriendlyName = 12 };

// Results of the store's reads that the callers tell apart.
enum class StoreResult {
    Success,
    InsufficientBuffer, // the buffer is too small; the size needed is reported
    InvalidData,        // the property or value is absent
    Failed,             // anything else: no such device, an unreadable record
};

enum class DeviceStateChange { Enable = 1, Disable = 2 };
enum class DeviceKeyKind { Hardware = 1, Driver = 2 };
enum class KeyAccess { Read, All };
