#include "platform/devices/DeviceRecord.h"
#include "platform/base/Text.h"

#include <climits>

namespace {

enum class Section { None, Device, HardwareKey, DriverKey, Unknown };

void AppendLine(std::string& out, const std::string& key, const std::string& value)
{
    out += key;
    out += '=';
    out += value;
    out += '\n';
}

} // namespace

bool IsStorableValue(const std::string& value)
{
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

int PortNumberOf(const std::string& portName)
{
    if (portName.size() <= 3)
        return 0;
    long long number = 0;
    size_t i = 3;
    for (; i < portName.size() && portName[i] >= '0' && portName[i] <= '9'; ++i) {
        number = number * 10 + (portName[i] - '0');
        if (number > INT_MAX)
            return 0;
    }
    return static_cast<int>(number);
}

std::string DeviceRecord::FileNameOf(const std::string& instanceId)
{
    if (instanceId.empty() || !IsStorableValue(instanceId)
        || instanceId.find_first_of("/#") != std::string::npos)
        return std::string();
    std::string name = instanceId;
    for (char& c : name) {
        if (c == '\\')
            c = '#';
    }
    if (name == "." || name == "..")
        return std::string();
    return name;
}

int DeviceRecord::PortNumber() const
{
    auto it = HardwareKey.find("PortName");
    return it == HardwareKey.end() ? 0 : PortNumberOf(it->second);
}

std::string DeviceRecord::Format() const
{
    std::string out = "[Device]\n";
    AppendLine(out, "InstanceId", InstanceId);
    AppendLine(out, "ClassGuid", ClassGuid);
    AppendLine(out, "Description", Description);
    AppendLine(out, "Enabled", Enabled ? "1" : "0");
    for (const auto& id : HardwareIds)
        AppendLine(out, "HardwareId", id);
    if (HasFriendlyName)
        AppendLine(out, "FriendlyName", FriendlyName);
    out += "[HardwareKey]\n";
    for (const auto& [name, value] : HardwareKey)
        AppendLine(out, name, value);
    if (HasDriverKey) {
        out += "[DriverKey]\n";
        for (const auto& [name, value] : DriverKey)
            AppendLine(out, name, value);
    }
    return out;
}

bool DeviceRecord::Parse(const std::string& text, DeviceRecord& record)
{
    DeviceRecord parsed;
    bool hasId = false;
    bool hasClass = false;
    Section section = Section::None;
    bool valid = true;
    ForEachLine(text, [&](std::string_view view) {
        // CRs at the end of a line are line ends (also on a last line without LF): no
        // value ends in one, since it could not be written back with it.
        while (!view.empty() && view.back() == '\r')
            view.remove_suffix(1);
        const std::string line(view);
        if (line.empty())
            return true;
        if (line.front() == '[') {
            if (line.back() != ']')
                return valid = false;
            std::string name = line.substr(1, line.size() - 2);
            if (name == "Device") {
                section = Section::Device;
            } else if (name == "HardwareKey") {
                section = Section::HardwareKey;
            } else if (name == "DriverKey") {
                section = Section::DriverKey;
                parsed.HasDriverKey = true;
            } else {
                section = Section::Unknown;
            }
            return true;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            return valid = false;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        switch (section) {
        case Section::None:
            return valid = false;
        case Section::Device:
            if (key == "InstanceId") {
                parsed.InstanceId = value;
                hasId = true;
            } else if (key == "ClassGuid") {
                parsed.ClassGuid = value;
                hasClass = true;
            } else if (key == "Description") {
                parsed.Description = value;
            } else if (key == "Enabled") {
                if (value != "0" && value != "1")
                    return valid = false;
                parsed.Enabled = value == "1";
            } else if (key == "HardwareId") {
                parsed.HardwareIds.push_back(value);
            } else if (key == "FriendlyName") {
                parsed.HasFriendlyName = true;
                parsed.FriendlyName = value;
            }
            break;
        case Section::HardwareKey:
            parsed.HardwareKey[key] = value;
            break;
        case Section::DriverKey:
            parsed.DriverKey[key] = value;
            break;
        case Section::Unknown:
            break;
        }
        return true;
    });
    if (!valid || !hasId || !hasClass || parsed.InstanceId.empty())
        return false;
    record = std::move(parsed);
    return true;
}
