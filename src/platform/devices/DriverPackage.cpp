#include "platform/devices/DriverPackage.h"
#include "platform/base/Text.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>
#include <vector>

#include "platform/config/AtomicFile.h"
#include "platform/devices/DeviceRecord.h"

namespace {

constexpr const char* PortsClassGuid = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
// The drivers folder's directory id; it stands at the start of ServiceBinary.
constexpr const char* DriversDirId = "%12%\\";

// Blanks around a line or a value; a carriage return of a last line without a line
// end counts as one.
std::string TrimmedText(std::string_view text)
{
    return std::string(Trim(text, " \t\r"));
}

// Drops the comment (';' outside double quotes).
std::string StripComment(const std::string& line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

std::string Unquote(const std::string& text)
{
    std::string t = TrimmedText(text);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        return t.substr(1, t.size() - 2);
    return t;
}

using Entries = std::vector<std::pair<std::string, std::string>>; // key, raw value

class InfFile {
public:
    explicit InfFile(const std::string& text)
    {
        Entries* current = nullptr;
        ForEachLine(text, [&](std::string_view raw) {
            const std::string line = TrimmedText(StripComment(std::string(raw)));
            if (line.empty())
                return;
            if (line.front() == '[') {
                size_t close = line.find(']');
                current = close == std::string::npos
                              ? nullptr
                              : &Sections[ToLowerAscii(Trim(line.substr(1, close - 1)))];
                return;
            }
            if (!current)
                return; // lines before the first section mean nothing
            size_t eq = line.find('=');
            if (eq == std::string::npos)
                current->emplace_back(Unquote(line), std::string());
            else
                current->emplace_back(Unquote(line.substr(0, eq)), TrimmedText(line.substr(eq + 1)));
        });
    }

    const Entries* Section(const std::string& name) const
    {
        auto it = Sections.find(ToLowerAscii(name));
        return it == Sections.end() ? nullptr : &it->second;
    }

    // The raw value of the first entry `key` of `section`, or null.
    const std::string* Raw(const std::string& section, const std::string& key) const
    {
        const Entries* entries = Section(section);
        if (!entries)
            return nullptr;
        for (const auto& [k, v] : *entries) {
            if (EqualsIgnoringCase(k, key))
                return &v;
        }
        return nullptr;
    }

    // The value of the first entry `key` of `section`, substituted and unquoted.
    bool Value(const std::string& section, const std::string& key, std::string& value) const
    {
        const std::string* raw = Raw(section, key);
        if (!raw)
            return false;
        value = Unquote(Substitute(*raw));
        return true;
    }

    // A comma-separated value as its fields, each substituted and unquoted.
    std::vector<std::string> Fields(const std::string& raw) const
    {
        std::vector<std::string> fields;
        size_t pos = 0;
        for (;;) {
            size_t comma = raw.find(',', pos);
            fields.push_back(Unquote(Substitute(raw.substr(pos, comma - pos))));
            if (comma == std::string::npos)
                break;
            pos = comma + 1;
        }
        return fields;
    }

    // Replaces each %name% found in [Strings]; other %...% (directory ids such as
    // %12%) stay as written.
    std::string Substitute(const std::string& text) const
    {
        std::string out;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t open = text.find('%', pos);
            if (open == std::string::npos) {
                out += text.substr(pos);
                break;
            }
            size_t close = text.find('%', open + 1);
            if (close == std::string::npos) {
                out += text.substr(pos);
                break;
            }
            out += text.substr(pos, open - pos);
            std::string name = text.substr(open + 1, close - open - 1);
            std::string value;
            if (!name.empty() && StringValue(name, value))
                out += value;
            else
                out += text.substr(open, close - open + 1);
            pos = close + 1;
        }
        return out;
    }

private:
    bool StringValue(const std::string& name, std::string& value) const
    {
        auto it = Sections.find("strings");
        if (it == Sections.end())
            return false;
        for (const auto& [k, v] : it->second) {
            if (EqualsIgnoringCase(k, name)) {
                value = Unquote(v);
                return true;
            }
        }
        return false;
    }

    std::map<std::string, Entries> Sections;
};

// The install section that the package names for `hardwareId`, or empty; the
// model's device description in `description`.
std::string FindInstallSection(const InfFile& inf, const std::string& hardwareId,
                               std::string& description)
{
    const Entries* makers = inf.Section("Manufacturer");
    if (!makers)
        return std::string();
    for (const auto& maker : *makers) {
        std::vector<std::string> makerFields = inf.Fields(maker.second);
        const Entries* models = makerFields[0].empty() ? nullptr : inf.Section(makerFields[0]);
        if (!models)
            continue;
        for (const auto& model : *models) {
            std::vector<std::string> fields = inf.Fields(model.second);
            for (size_t i = 1; i < fields.size(); ++i) {
                if (!fields[0].empty() && EqualsIgnoringCase(fields[i], hardwareId)) {
                    description = Unquote(inf.Substitute(model.first));
                    return fields[0];
                }
            }
        }
    }
    return std::string();
}

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && IsStorableValue(name)
           && name.find_first_of("/\\") == std::string::npos;
}

} // namespace

bool DriverPackage::Load(const std::string& infPath, const std::string& hardwareId,
                         DriverPackage& package)
{
    DriverPackage loaded;
    if (ReadWholeFile(infPath, loaded.Text, 1 << 20) != FileReadResult::Ok)
        return false;
    if (loaded.Text.find('\0') != std::string::npos)
        return false; // not a text file
    InfFile inf(loaded.Text);

    std::string signature, className, classGuid;
    if (!inf.Value("Version", "Signature", signature) || !inf.Value("Version", "Class", className)
        || !inf.Value("Version", "ClassGuid", classGuid))
        return false;
    if ((!EqualsIgnoringCase(signature, "$Windows NT$") && !EqualsIgnoringCase(signature, "$Chicago$"))
        || !EqualsIgnoringCase(className, "Ports") || !EqualsIgnoringCase(classGuid, PortsClassGuid))
        return false;

    std::string install = FindInstallSection(inf, hardwareId, loaded.DeviceDescription);
    if (install.empty())
        return false;
    const std::string* addService = inf.Raw(install + ".Services", "AddService");
    if (!addService)
        return false;
    std::vector<std::string> service = inf.Fields(*addService);
    if (service.size() < 3 || !IsPlainFileName(service[0]) || service[2].empty())
        return false;

    std::string binary;
    if (!inf.Value(service[2], "ServiceBinary", binary))
        return false;
    if (binary.size() <= 5 || !EqualsIgnoringCase(binary.substr(0, 5), DriversDirId))
        return false;
    std::string driverFile = binary.substr(5);
    if (!IsPlainFileName(driverFile) || !IsStorableValue(loaded.DeviceDescription))
        return false;

    loaded.ServiceName = service[0];
    loaded.DriverFile = driverFile;
    package = std::move(loaded);
    return true;
}
