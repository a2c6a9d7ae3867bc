// Implements StoredConfig: the configuration file read line by line, with each
// problem said where it is.
#include "console/StoredConfig.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <unordered_map>

#include "console/ConsoleModel.h"
#include "links/TlsContext.h"
#include "net/AllowList.h"
#include "net/LocalAddress.h"
#include "platform/base/Text.h"
#include "platform/config/AtomicFile.h"
#include "platform/config/ProfileText.h"
#include "platform/config/WholeNumber.h"

namespace {

constexpr const char* PortKeys[] = {"SendToNetDelayTime", "ReceiveFromNetDelayTime", "LogFilename", "LogMode",
                                    "LogTimestamps", "NetCount"};
constexpr const char* LinkKeys[] = {"Type", "RemoteAddr", "RemotePort", "AutoReconnect", "ReconnectIntervalTime",
                                    "LocalPort", "LocalAddr", "Rfc2217", "Allow", "MaxClients", "Tls", "TlsCert",
                                    "TlsKey", "TlsCA", "TlsPin"};

// The key's name as the console writes it, or empty when it is none of `names`.
template <size_t N>
std::string KnownName(std::string_view name, const char* const (&names)[N])
{
    for (const char* known : names) {
        if (EqualsIgnoringCase(name, known))
            return known;
    }
    return {};
}

// "Net12RemotePort" → 12 and "RemotePort"; nothing for any other name.
std::optional<std::pair<int32_t, std::string>> LinkKeyOf(std::string_view name)
{
    if (name.size() < 4 || !EqualsIgnoringCase(name.substr(0, 3), "Net") || name[3] < '1' || name[3] > '9')
        return std::nullopt;
    size_t end = 3;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9')
        ++end;
    int32_t index = 0;
    const std::string known = KnownName(name.substr(end), LinkKeys);
    if (end - 3 > 10 || known.empty() || !ParseWholeNumber(name.substr(3, end - 3), index))
        return std::nullopt;
    return std::make_pair(index, known);
}

// "COM3" → 3, as the console names its sections; 0 for any other name.
int32_t PortNumberOf(std::string_view name)
{
    int32_t number = 0;
    if (name.size() < 4 || name.size() > 13 || !EqualsIgnoringCase(name.substr(0, 3), "COM") || name[3] < '1'
        || name[3] > '9'
        || !std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })
        || !ParseWholeNumber(name.substr(3), number))
        return 0;
    return number;
}

// A text as a problem shows it: a long one is cut for the eye, with its length.
std::string ForTheEye(std::string_view text)
{
    constexpr size_t Longest = 48;
    if (text.size() <= Longest)
        return std::string(text);
    return std::string(text.substr(0, Longest)) + "… (" + std::to_string(text.size()) + " characters)";
}

std::string Shown(std::string_view name, std::string_view value)
{
    return std::string(name) + "=" + ForTheEye(value);
}

// "<problem>; <consequence>", the problem's own full stop dropped.
std::string Then(std::string problem, const std::string& consequence)
{
    if (!problem.empty() && problem.back() == '.')
        problem.pop_back();
    return problem + "; " + consequence;
}

std::string LinkName(int32_t index)
{
    return "link " + std::to_string(index);
}

// What a value that reaches the reader's bound is taken for.
const std::string CutText =
    "reaches the reader's bound of " + std::to_string(ProfileText::MaxValueLength) + " characters; taken as cut";

// Why the settings of a stored link cannot serve, as far as they decide it without a
// bind; empty when they can. Ranges with host bits set are added to `hostBits`.
std::string SettingsProblem(const LinkFields& fields, std::vector<std::string>& hostBits)
{
    AllowList list;
    if (fields.Kind != NetKind::TcpClient)
        if (const Failure bad = AllowList::Parse(fields.Allow, list, &hostBits))
            return bad.Reason();
    if (fields.Kind != NetKind::TcpClient && !fields.LocalAddr.empty()) {
        if (const std::string problem = LocalAddressProblem(fields.LocalAddr); !problem.empty())
            return problem;
    }
    const LinkOptions options = OptionsOf(fields);
    if (options.MaxClients < 0)
        return "The client limit is not a number from 0 (no limit) to 65535.";
    if (fields.Kind != NetKind::Udp && fields.Tls.On)
        if (const TlsContext::Made made = TlsContext::Make(fields.Tls, fields.Kind == NetKind::TcpServer); !made.Context)
            return made.Why.Reason();
    return {};
}

} // namespace

struct StoredConfig::Key {
    std::string Name;
    std::string Value;
    size_t Line = 0;
    std::string Shown() const { return ::Shown(Name, Value); }
};

struct StoredConfig::Section {
    std::string Name;
    size_t Line = 0;
    std::vector<Key> Keys; // the first line of each key, in the file's order
    std::unordered_map<std::string, size_t> Index; // folded name → Keys

    const Key* Find(std::string_view name) const
    {
        const auto found = Index.find(ToLowerAscii(name));
        return found == Index.end() ? nullptr : &Keys[found->second];
    }
};

std::string ConfigProblem::Text(const std::string& path) const
{
    std::string text = path + ":" + std::to_string(Line) + ": ";
    if (!Section.empty())
        text += "[" + Section + "] ";
    if (!Subject.empty())
        text += Subject + ": ";
    return text + What;
}

StoredConfig::StoredConfig(std::string path, std::string_view text, const std::vector<int32_t>& installed)
    : Path(std::move(path))
{
    std::vector<Section> sections;
    std::unordered_map<std::string, size_t> firstCopy; // folded name → sections
    Section* current = nullptr; // null outside a section, and in a later copy
    std::string currentName;
    bool beforeAny = true; // no header yet: keys here belong to no section
    ForEachProfileLine(text, [&](const ProfileLine& line) {
        switch (line.What) {
        case ProfileLine::Kind::Blank:
        case ProfileLine::Kind::Comment:
            return;
        case ProfileLine::Kind::Other:
            Add(line.Number, currentName, "\"" + ForTheEye(line.Text) + "\"",
                "neither a section nor a key; ignored");
            return;
        case ProfileLine::Kind::Header: {
            currentName = std::string(line.Name);
            current = nullptr;
            beforeAny = false;
            if (line.Name.empty()) {
                Add(line.Number, {}, "[]", "a section without a name; its keys are ignored");
                return;
            }
            auto [at, fresh] = firstCopy.try_emplace(ToLowerAscii(line.Name), sections.size());
            if (!fresh) {
                Add(line.Number, currentName, {},
                    "a second copy of the section; only the one at line " + std::to_string(sections[at->second].Line)
                        + " is read");
                return;
            }
            sections.push_back({currentName, line.Number, {}, {}});
            current = &sections.back();
            return;
        }
        case ProfileLine::Kind::Key:
            break;
        }
        if (!current) {
            if (beforeAny)
                Add(line.Number, {}, Shown(line.Name, line.Value), "outside any section; ignored");
            return;
        }
        auto [at, fresh] = current->Index.try_emplace(ToLowerAscii(line.Name), current->Keys.size());
        if (!fresh) {
            Add(line.Number, current->Name, Shown(line.Name, line.Value),
                "a second " + std::string(line.Name) + "; only the one at line "
                    + std::to_string(current->Keys[at->second].Line) + " is read");
            return;
        }
        current->Keys.push_back({std::string(line.Name), std::string(line.Value), line.Number});
    });

    for (const Section& section : sections) {
        if (EqualsIgnoringCase(section.Name, "General")) {
            ReadGeneral(section);
            continue;
        }
        const int32_t number = PortNumberOf(section.Name);
        if (number == 0) {
            Add(section.Line, section.Name, {}, "not a section of the console; ignored");
        } else if (std::find(installed.begin(), installed.end(), number) == installed.end()) {
            Add(section.Line, section.Name, {}, "skipped: " + section.Name + " is not an installed port");
        } else {
            ReadPort(section, Ports[number]);
        }
    }
}

void StoredConfig::Add(size_t line, const std::string& section, std::string subject, std::string what)
{
    Problems.push_back({line, section, std::move(subject), std::move(what)});
}

void StoredConfig::ReadGeneral(const Section& section)
{
    for (const Key& key : section.Keys) {
        int32_t value = 0;
        if (!EqualsIgnoringCase(key.Name, "MinimizeWhenRun"))
            Add(key.Line, section.Name, key.Shown(), "not a key of the console; ignored");
        else if (!ParseWholeNumber(key.Value, value))
            Add(key.Line, section.Name, key.Shown(), "not a number; 0 used");
    }
}

void StoredConfig::ReadPort(const Section& section, StoredPort& port)
{
    std::map<int32_t, std::map<std::string, const Key*>> entries;
    for (const Key& key : section.Keys) {
        if (!KnownName(key.Name, PortKeys).empty())
            continue;
        if (const auto link = LinkKeyOf(key.Name))
            entries[link->first].emplace(link->second, &key);
        else
            Add(key.Line, section.Name, key.Shown(), "not a key of the console; ignored");
    }

    // A number of the port's own, its default when it holds none.
    auto number = [&](const char* name, int32_t fallback) {
        const Key* key = section.Find(name);
        int32_t value = fallback;
        if (key && !ParseWholeNumber(key->Value, value))
            Add(key->Line, section.Name, key->Shown(), "not a number; " + std::to_string(fallback) + " used");
        return value;
    };
    StoredPortOptions& options = port.Options;
    options.SendToNetDelayTime = number("SendToNetDelayTime", 0);
    options.ReceiveFromNetDelayTime = number("ReceiveFromNetDelayTime", 0);
    options.LogMode = number("LogMode", 0) != 0 ? 1 : 0;
    options.LogTimestamps = number("LogTimestamps", 0) != 0;
    if (const Key* log = section.Find("LogFilename")) {
        std::string problem = ProfileText::IsCut(log->Value) ? CutText : ConsoleModel::LogNameProblem(log->Value);
        if (problem.empty())
            options.LogFilename = log->Value;
        else
            Add(log->Line, section.Name, log->Shown(), Then(problem, "the log is off"));
    }

    const Key* netCount = section.Find("NetCount");
    int32_t count = 0;
    if (netCount && !ParseWholeNumber(netCount->Value, count))
        Add(netCount->Line, section.Name, netCount->Shown(),
            "not a number; " + (entries.empty() ? std::string("no link") : "every link") + " left out");
    // Numbers up to NetCount with no entry at all: said as ranges, so that a huge
    // count costs one line.
    int32_t expected = 1;
    auto missing = [&](int32_t below) {
        if (netCount && expected < below && expected <= count) {
            const int32_t last = std::min(below - 1, count);
            Add(netCount->Line, section.Name, netCount->Shown(),
                expected == last ? "there is no " + LinkName(expected)
                                 : "there are no links " + std::to_string(expected) + " to " + std::to_string(last));
        }
    };
    for (const auto& [index, keys] : entries) {
        missing(index);
        expected = index + 1;
        ReadLink(section, index, keys, count, port);
    }
    if (count < INT32_MAX)
        missing(count + 1);
}

void StoredConfig::ReadLink(const Section& section, int32_t index, const std::map<std::string, const Key*>& keys,
                            int32_t count, StoredPort& port)
{
    const std::string name = LinkName(index);
    const std::string leftOut = name + " left out";
    const auto typeAt = keys.find("Type");
    const Key* first = typeAt != keys.end() ? typeAt->second : keys.begin()->second;
    for (const auto& [keyName, key] : keys)
        first = key->Line < first->Line && typeAt == keys.end() ? key : first;
    auto problem = [&](const Key* key, const std::string& what) {
        Add(key->Line, section.Name, key->Shown(), what);
    };
    if (index > count) {
        problem(first, "beyond NetCount=" + std::to_string(count) + "; " + leftOut);
        return;
    }
    if (typeAt == keys.end()) {
        problem(first, name + " has no Net" + std::to_string(index) + "Type; left out");
        return;
    }
    const Key* type = typeAt->second;
    int32_t kindNumber = 0;
    if (!ParseWholeNumber(type->Value, kindNumber)) {
        problem(type, "not a number; " + leftOut);
        return;
    }
    const std::optional<NetKind> kind = NetKindFromNumber(kindNumber);
    if (!kind) {
        problem(type, "not a kind of link (1 TCP client, 2 TCP server, 3 UDP); " + leftOut);
        return;
    }

    StoredLink link;
    link.Index = index;
    link.Line = type->Line;
    link.Fields.Kind = *kind;
    // Every problem of the entry is said, not only the first.
    bool whole = true;
    auto key = [&](const char* keyName) -> const Key* {
        const auto found = keys.find(keyName);
        return found == keys.end() ? nullptr : found->second;
    };
    auto text = [&](const char* keyName) {
        const Key* at = key(keyName);
        if (!at)
            return std::string();
        if (ProfileText::IsCut(at->Value)) {
            problem(at, CutText + ", " + leftOut);
            whole = false;
        }
        return at->Value;
    };
    auto flag = [&](const char* keyName, int32_t fallback) {
        const Key* at = key(keyName);
        int32_t value = fallback;
        if (at && !ParseWholeNumber(at->Value, value))
            problem(at, "not a number; " + std::to_string(fallback) + " used");
        return value;
    };
    // A port of the link: the low 16 bits of its number, as always; 0 or none makes
    // no link.
    auto port16 = [&](const char* keyName, uint16_t& out) {
        const Key* at = key(keyName);
        int32_t value = 0;
        if (!at)
            problem(type, name + " has no Net" + std::to_string(index) + keyName + "; left out");
        else if (!ParseWholeNumber(at->Value, value))
            problem(at, "not a number; " + leftOut);
        else if ((value & 0xFFFF) == 0)
            problem(at, "not a port from 1 to 65535; " + leftOut);
        else
            out = static_cast<uint16_t>(value & 0xFFFF);
        whole = whole && out != 0;
    };
    // A text that no entrance would take.
    auto refuse = [&](const char* keyName, const std::string& why) {
        if (!why.empty() && whole) {
            problem(key(keyName), Then(why, leftOut));
            whole = false;
        }
    };

    LinkFields& fields = link.Fields;
    if (*kind != NetKind::TcpClient)
        port16("LocalPort", link.LocalPort);
    if (*kind != NetKind::TcpServer) {
        port16("RemotePort", link.RemotePort);
        fields.RemoteAddr = text("RemoteAddr");
        refuse("RemoteAddr", HostNameProblem(fields.RemoteAddr));
        // A host that names nothing is kept as it was: the link reaches nothing until
        // it is mended.
        if (const std::string blank = HostBlankProblem(fields.RemoteAddr); whole && !blank.empty())
            problem(key("RemoteAddr"), Then(blank, "kept; the link reaches nothing until it is mended"));
    }
    fields.LocalAddr = text("LocalAddr");
    if (HasLineBreakOrNul(fields.LocalAddr))
        refuse("LocalAddr", "The address must be one line, without a line break or a NUL character.");
    fields.LocalPort = std::to_string(link.LocalPort);
    fields.RemotePort = std::to_string(link.RemotePort);
    fields.Rfc2217 = flag("Rfc2217", 0) != 0;
    fields.Allow = text("Allow");
    fields.MaxClients = text("MaxClients");
    fields.Tls.On = flag("Tls", 0) != 0;
    fields.Tls.Cert = text("TlsCert");
    fields.Tls.Key = text("TlsKey");
    fields.Tls.CA = text("TlsCA");
    fields.Tls.Pin = text("TlsPin");
    link.AutoReconnect = flag("AutoReconnect", 0) != 0;
    link.ReconnectIntervalTime = flag("ReconnectIntervalTime", DefaultReconnectInterval);
    if (!whole)
        return;

    // The settings themselves: a link that cannot serve is still made (the next save
    // would drop it from the file otherwise), and never listens or connects.
    std::vector<std::string> hostBits;
    const std::string why = SettingsProblem(fields, hostBits);
    for (const std::string& loose : hostBits)
        problem(key("Allow"), loose + " (matched as that network)");
    if (!why.empty()) {
        link.CannotServe = true;
        Add(type->Line, section.Name, name, "cannot serve: " + why);
    }
    port.Links.push_back(std::move(link));
}

const StoredPort& StoredConfig::Port(int32_t number) const
{
    const auto found = Ports.find(number);
    return found == Ports.end() ? Defaults : found->second;
}

void StoredConfig::LinkFailed(const std::string& section, const StoredLink& link, const std::string& what)
{
    Add(link.Line, section, LinkName(link.Index), what);
}

std::vector<std::string> StoredConfig::ProblemLines() const
{
    std::vector<const ConfigProblem*> sorted;
    for (const ConfigProblem& problem : Problems)
        sorted.push_back(&problem);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const ConfigProblem* a, const ConfigProblem* b) { return a->Line < b->Line; });
    std::vector<std::string> lines;
    for (const ConfigProblem* problem : sorted)
        lines.push_back(problem->Text(Path));
    return lines;
}

CPortObject::LinkMaker StoredLink::Maker() const
{
    const LinkOptions options = OptionsOf(Fields);
    switch (Fields.Kind) {
    case NetKind::TcpClient:
        // The first connection attempt starts once the link is kept, with these two
        // options applied.
        return [make = CPortObject::TcpClientMaker(Fields.RemoteAddr, RemotePort, options),
                autoReconnect = AutoReconnect, interval = ReconnectIntervalTime](PortSide& port) {
            std::unique_ptr<CNetObject> link = make(port);
            if (link) {
                link->SetAutoReconnect(autoReconnect);
                link->SetReconnectInterval(interval);
            }
            return link;
        };
    case NetKind::TcpServer:
        return CPortObject::TcpServerMaker(LocalPort, options);
    case NetKind::Udp:
        return CPortObject::UdpMaker(LocalPort, Fields.RemoteAddr, RemotePort, options);
    }
    return {};
}

std::vector<std::string> CheckConfigFile(const std::string& path, const std::vector<int32_t>& installed)
{
    std::string text;
    const FileReadResult read = ReadWholeFile(path, text);
    if (read == FileReadResult::Missing)
        return {path + ": cannot be read: it does not exist"};
    if (read != FileReadResult::Ok)
        return {path + ": cannot be read: " + Failure::OfCall("read").Reason()};
    return StoredConfig(path, text, installed).ProblemLines();
}

bool FailedBySettings(const Failure& why)
{
    return why && why.Errno != EADDRINUSE;
}

std::vector<int32_t> PortNumbers(const CQLNManager::PortList& ports)
{
    std::vector<int32_t> numbers;
    for (CPortObject* port : ports)
        numbers.push_back(port->GetPortNumber());
    return numbers;
}

std::string ProblemsText(size_t problems)
{
    if (problems == 0)
        return {};
    return "; " + std::to_string(problems) + (problems == 1 ? " problem" : " problems");
}

StartedLink StartStoredLink(CPortObject& port, const StoredLink& entry, StoredConfig& stored,
                            std::unique_ptr<CNetObject> made)
{
    const MadeLink added = made ? port.AddLink([&made](PortSide&) { return std::move(made); },
                                               CPortObject::BindFailure::KeepAndRetry)
                                : port.AddLink(entry.Maker(), CPortObject::BindFailure::KeepAndRetry);
    CNetObject* const link = added.Link;
    const Failure& why = added.Why;
    // Settings found wanting when the file was read are said once, from there.
    if (link && !entry.CannotServe && FailedBySettings(why))
        stored.LinkFailed(PortSection(port.GetPortNumber()), entry, "cannot listen: " + why.Reason());
    StartedLink started;
    started.Link = link;
    if (entry.CannotServe || FailedBySettings(why))
        started.Failed = why ? why : Failure::Said("cannot serve");
    return started;
}
