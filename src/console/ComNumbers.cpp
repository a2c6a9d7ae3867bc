#include "console/ComNumbers.h"

#include <cstdint>
#include <memory>

#include "platform/base/Folders.h"
#include "platform/devices/DeviceStore.h"

std::vector<bool> ReadComNumberUsage()
{
    DeviceStore store(StateFolder());
    std::unique_ptr<ComPortDatabase> database = store.OpenComDatabase();
    if (!database)
        return {};
    uint32_t count = 0;
    if (database->GetCurrentPortUsage(nullptr, 0, &count) != 0 || count == 0)
        return {};
    std::vector<uint8_t> usage(count);
    if (database->GetCurrentPortUsage(usage.data(), count, &count) != 0)
        return {};
    std::vector<bool> inUse;
    for (uint32_t i = 0; i < count && i < usage.size(); ++i)
        inUse.push_back(usage[i] != 0);
    return inUse;
}
