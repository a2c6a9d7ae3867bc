// The stored device records (devices/<name> in the state folder): a record read from
// any text writes back to a text that reads as the same record, and writing is
// stable; a file name made of an instance id is one name in the folder and gives the
// id back; a port name's number is what its digits say.
#include <climits>

#include "FuzzInput.h"
#include "platform/devices/DeviceRecord.h"

namespace {

bool Same(const DeviceRecord& a, const DeviceRecord& b)
{
    return a.InstanceId == b.InstanceId && a.ClassGuid == b.ClassGuid && a.Description == b.Description
        && a.Enabled == b.Enabled && a.HardwareIds == b.HardwareIds && a.HasFriendlyName == b.HasFriendlyName
        && a.FriendlyName == b.FriendlyName && a.HardwareKey == b.HardwareKey && a.HasDriverKey == b.HasDriverKey
        && a.DriverKey == b.DriverKey;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    DeviceRecord record;
    record.Description = "untouched";
    if (DeviceRecord::Parse(text, record)) {
        QLN_FUZZ_CHECK(!record.InstanceId.empty());
        const std::string written = record.Format();
        DeviceRecord again;
        QLN_FUZZ_CHECK(DeviceRecord::Parse(written, again));
        QLN_FUZZ_CHECK(Same(record, again));
        QLN_FUZZ_CHECK(again.Format() == written);
        QLN_FUZZ_CHECK(record.PortNumber() >= 0);
    } else {
        QLN_FUZZ_CHECK(record.Description == "untouched");
    }

    const std::string name = DeviceRecord::FileNameOf(text);
    if (!name.empty()) {
        QLN_FUZZ_CHECK(name.find_first_of(std::string("/\n\r\0", 4)) == std::string::npos);
        QLN_FUZZ_CHECK(name != "." && name != "..");
        std::string id = name;
        std::replace(id.begin(), id.end(), '#', '\\');
        QLN_FUZZ_CHECK(id == text);
    }

    const int number = PortNumberOf(text);
    QLN_FUZZ_CHECK(number >= 0);
    if (number > 0) {
        const std::string digits = std::to_string(number);
        // The digits after the third character, leading zeros aside.
        const size_t first = text.find_first_not_of('0', 3);
        QLN_FUZZ_CHECK(first != std::string::npos && text.compare(first, digits.size(), digits) == 0);
        QLN_FUZZ_CHECK(first + digits.size() == text.size() || text[first + digits.size()] < '0'
                       || text[first + digits.size()] > '9');
    }
    return 0;
}
