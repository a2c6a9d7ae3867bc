#pragma once
#include <string>
#include <vector>

#include "platform/devices/DeviceRecord.h"

// Identifies one element of a device set: its instance id ("ROOT\PORTS\0000").
struct DeviceInfo {
    std::string InstanceId;
};

// A set of devices of one setup class, as the device store hands it out: either a
// snapshot of the present devices or an empty set that new device elements are
// created in. The caller owns it; destroying it releases it. A new element lives
// only in its set until it is registered; a set destroyed before that leaves nothing
// behind. Window thread only.
class DeviceInfoSet {
public:
    explicit DeviceInfoSet(std::string classGuid) : ClassGuid(std::move(classGuid)) {}
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    size_t Count() const { return Elements.size(); }

private:
    friend class DeviceStore;
    struct Element {
        std::string InstanceId;
        bool Registered = false; // its record is on disk; Pending is unused then
        DeviceRecord Pending;    // the element before registration
    };
    Element* Find(const std::string& instanceId)
    {
        for (auto& element : Elements) {
            if (element.InstanceId == instanceId)
                return &element;
        }
        return nullptr;
    }

    std::string ClassGuid;
    std::vector<Element> Elements;
};
