// The console model's configuration file and autostart entry: loading the port
// sections at start, rewriting one port's section after each change, and the two
// console options.
//
// The file holds per port number the port's options and links (section "COM<n>")
// and the console's own "General"/"MinimizeWhenRun"; which ports exist is decided by
// the installed devices, not by the file. The autostart entry's presence is the
// state of "Auto run when login".
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "console/ConsoleModel.h"
#include "console/StoredConfig.h"
#include "console/StoredSettings.h"
#include "platform/base/EventLog.h"
#include "platform/base/Failure.h"
#include "platform/base/Text.h"
#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "platform/base/Folders.h"
#include "platform/config/AtomicFile.h"
#include "platform/config/Autostart.h"
#include "platform/config/ProfileFile.h"

namespace {

const char* const General = "General";
const char* const MinimizeWhenRunKey = "MinimizeWhenRun";

std::string SectionOf(int32_t number)
{
    return "COM" + std::to_string(number);
}

std::string LinkKey(int32_t index, const char* name)
{
    return "Net" + std::to_string(index) + name;
}

// The folder of the file, which a write in the fallback location may have to create.
Failure MakeParentFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || MakeFolders(path.substr(0, slash)))
        return {};
    // Something that is not a folder in the way: mkdir found it there.
    return Failure::OfCall("mkdir", errno == EEXIST ? ENOTDIR : errno);
}

// What a failed write of the file at `path` tells the user, and the event it logs,
// `what` and why ("cannot save [COM3] in …: write: No space left on device"). The
// change itself stays in the running console.
ConsoleResult NotSaved(const std::string& what, const std::string& path, const Failure& why)
{
    SayEvent(EventLevel::Error, "config", what + ": " + why.Text());
    Failure told = why;
    told.Words = path + ": " + why.Reason() + ". The change holds in the running console; it is not saved.";
    return ConsoleResult::NotSaved(told);
}

} // namespace

namespace {

// The keys of link entry `i`, in the order the file has always had them.
void AddLinkPairs(ProfileFile::KeyValues& pairs, int32_t i, const CNetObject* link)
{
    auto add = [&pairs](std::string key, std::string value) {
        pairs.emplace_back(std::move(key), std::move(value));
    };
    auto number = [](int64_t value) { return std::to_string(value); };

    add(LinkKey(i, "Type"), number(static_cast<int32_t>(link->Type)));
    switch (link->Type) {
    case NetKind::TcpClient:
        add(LinkKey(i, "RemoteAddr"), link->Settings().RemoteAddr);
        add(LinkKey(i, "RemotePort"), number(link->Settings().RemotePort));
        add(LinkKey(i, "AutoReconnect"), number(link->Settings().AutoReconnect ? 1 : 0));
        add(LinkKey(i, "ReconnectIntervalTime"), number(link->Settings().ReconnectIntervalTime));
        break;
    case NetKind::TcpServer:
        add(LinkKey(i, "LocalPort"), number(static_cast<uint16_t>(link->Settings().LocalPort)));
        break;
    case NetKind::Udp:
        add(LinkKey(i, "LocalPort"), number(static_cast<uint16_t>(link->Settings().LocalPort)));
        add(LinkKey(i, "RemoteAddr"), link->Settings().RemoteAddr);
        add(LinkKey(i, "RemotePort"), number(link->Settings().RemotePort));
        break;
    }
    // Written only when set, so a file without them stays as it always was.
    if (!link->Settings().LocalAddr.empty())
        add(LinkKey(i, "LocalAddr"), link->Settings().LocalAddr);
    if (link->Settings().Rfc2217)
        add(LinkKey(i, "Rfc2217"), "1");
    if (!link->Settings().Allow.empty())
        add(LinkKey(i, "Allow"), link->Settings().Allow);
    if (link->Settings().MaxClients != 0)
        add(LinkKey(i, "MaxClients"), number(link->Settings().MaxClients));
    if (link->Settings().Tls.On)
        add(LinkKey(i, "Tls"), "1");
    const std::pair<const char*, const std::string*> tlsFiles[] = {
        {"TlsCert", &link->Settings().Tls.Cert}, {"TlsKey", &link->Settings().Tls.Key}, {"TlsCA", &link->Settings().Tls.CA}, {"TlsPin", &link->Settings().Tls.Pin}};
    for (const auto& [name, value] : tlsFiles) {
        if (!value->empty())
            add(LinkKey(i, name), *value);
    }
}

// The pairs of a port's section, in the order the file has always had them.
// Manager lock held by the caller.
ProfileFile::KeyValues SectionPairs(CPortObject& port)
{
    ProfileFile::KeyValues pairs;
    auto add = [&pairs](std::string key, std::string value) {
        pairs.emplace_back(std::move(key), std::move(value));
    };
    auto number = [](int64_t value) { return std::to_string(value); };

    add("SendToNetDelayTime", number(port.GetSendToNetDelayTime()));
    add("ReceiveFromNetDelayTime", number(port.GetReceiveFromNetDelayTime()));
    add("LogFilename", port.GetLogFilename());
    add("LogMode", number(port.GetLogMode() != 0 ? 1 : 0));
    // Written only when set: without it the records are as they always were.
    if (port.GetLogTimestamps())
        add("LogTimestamps", "1");
    CPortObject::NetLinkList& links = port.GetNetLinks();
    add("NetCount", number(static_cast<int64_t>(links.size())));

    int32_t i = 0;
    for (const std::unique_ptr<CNetObject>& link : links)
        AddLinkPairs(pairs, ++i, link.get());
    return pairs;
}

// Why the configuration file cannot be read; empty when it can or is missing
// (`missing` then says which).
std::string WhyUnreadable(const std::string& path, bool& missing)
{
    struct stat st {};
    missing = false;
    if (::stat(path.c_str(), &st) != 0) {
        missing = errno == ENOENT;
        return missing ? std::string() : Failure::OfCall("stat").Reason();
    }
    return S_ISDIR(st.st_mode) ? Failure::OfCall("read", EISDIR).Reason() : std::string();
}

void SayConfig(EventLevel level, const std::string& text)
{
    SayEvent(level, "config", text);
}

} // namespace

void ConsoleModel::OpenSettings()
{
    AutorunKey = Autostart::Open();
    ConfigFile = std::make_unique<ProfileFile>(ConfigFilePath);
    // Replacements of the configuration file or the autostart entry that a crash cut
    // short leave their temporary files behind.
    RemoveStaleTemporaryFiles(ConfigFilePath.substr(0, ConfigFilePath.rfind('/') + 1));
    RemoveStaleTemporaryFiles(Autostart::DefaultFolder());
}

const std::string& ConsoleModel::ConfigPath() const
{
    return ConfigFilePath;
}

void ConsoleModel::LoadSettings()
{
    if (!PortManager || !ConfigFile)
        return;
    // Read once, before the lock: a file with many links is large, and the pump
    // needs nothing from it.
    const ProfileFile::Snapshot file = ConfigFile->TakeSnapshot();
    bool missing = false;
    const std::string unreadable = WhyUnreadable(ConfigFile->Path(), missing);
    size_t links = 0;
    // The ports change only on this thread; the file, its TLS files included, is
    // read before the pump is held.
    CQLNManager::PortList ports;
    PortManager->CopyPorts(&ports);
    StoredConfig stored(ConfigFile->Path(), file.Text(), PortNumbers(ports));
    CGuard guard(PortManager->Lock());

    for (CPortObject* port : ports) {
        const StoredPort& section = stored.Port(port->GetPortNumber());
        const StoredPortOptions& options = section.Options;
        port->SetSendToNetDelayTime(options.SendToNetDelayTime);
        port->SetReceiveFromNetDelayTime(options.ReceiveFromNetDelayTime);
        port->SetLogFile(options.LogFilename.c_str());
        port->SetLogMode(options.LogMode);
        port->SetLogTimestamps(options.LogTimestamps);
        Tell([port](ConsoleObserver& observer) { observer.PortAdded(port); });

        // A local port that is taken now (another program, a console still going
        // down) keeps its link, not listening until the pump can bind it: left out,
        // the next save would drop it from the file for good. So does a link whose
        // settings cannot serve, which is a problem said. The numbering of the
        // following entries is kept.
        for (const StoredLink& entry : section.Links) {
            if (CNetObject* link = StartStoredLink(*port, entry, stored).Link) {
                ++links;
                Tell([port, link](ConsoleObserver& observer) { observer.LinkAdded(port, link); });
            }
        }
    }
    const std::vector<std::string> problems = stored.ProblemLines();
    for (const std::string& problem : problems)
        SayConfig(EventLevel::Warning, problem);
    if (!unreadable.empty())
        SayConfig(EventLevel::Warning, "cannot read " + ConfigFile->Path() + ": " + unreadable
                                           + "; every port starts with its defaults");
    else if (missing)
        SayConfig(EventLevel::Info, ConfigFile->Path() + " does not exist yet; every port starts with its defaults");
    else
        SayConfig(problems.empty() ? EventLevel::Info : EventLevel::Warning,
                  "loaded " + ConfigFile->Path() + ": " + std::to_string(ports.size()) + " port"
                      + (ports.size() == 1 ? "" : "s") + ", " + std::to_string(links) + " link"
                      + (links == 1 ? "" : "s") + ProblemsText(problems.size()));
}

// The section is replaced in one step, which leaves the file as erasing it and
// writing its keys one by one would (the section moves to the end, its links numbered
// densely from 1). The whole file is written beside the old one and renamed over it
// only once it is on the disk, so a failure (a full disk, a value no line can hold)
// leaves every section as it was: erasing the section then, as a failure half way
// through the key-by-key sequence would leave it, would lose the port's links to a
// disk that has room for less.
ConsoleResult ConsoleModel::SavePortSettings(CPortObject* port)
{
    if (!port || !PortManager || !ConfigFile)
        return ConsoleResult::Done();
    CGuard guard(PortManager->Lock());
    const std::string section = SectionOf(port->GetPortNumber());
    const std::string& path = ConfigFile->Path();
    Failure why = MakeParentFolder(path);
    if (why || (why = ConfigFile->ReplaceSection(section, SectionPairs(*port))))
        return NotSaved("cannot save [" + section + "] in " + path, path, why);
    SayConfig(EventLevel::Info, "saved [" + section + "] in " + path);
    return ConsoleResult::Done();
}

ConsoleResult ConsoleModel::ErasePortSettings(int32_t number)
{
    if (!ConfigFile)
        return ConsoleResult::Done();
    const std::string& path = ConfigFile->Path();
    if (Failure why = ConfigFile->EraseSection(SectionOf(number)))
        return NotSaved("cannot remove [" + SectionOf(number) + "] from " + path, path, why);
    SayConfig(EventLevel::Info, "removed [" + SectionOf(number) + "] from " + path);
    return ConsoleResult::Done();
}

bool ConsoleModel::MinimizeWhenRun() const
{
    return ConfigFile && ConfigFile->GetInt(General, MinimizeWhenRunKey, 0) != 0;
}

// Also run for the start-up's own setting of the window's box from the file, which
// finds the file agreeing and writes nothing (but a stored 2 becomes 1).
ConsoleResult ConsoleModel::SetMinimizeWhenRun(bool on)
{
    if (!ConfigFile)
        return ConsoleResult::Done();
    const int32_t state = on ? 1 : 0;
    if (ConfigFile->GetInt(General, MinimizeWhenRunKey, 0) == state)
        return ConsoleResult::Done();
    const std::string what = std::string(MinimizeWhenRunKey) + "=" + std::to_string(state);
    Failure why = MakeParentFolder(ConfigFile->Path());
    if (why || (why = ConfigFile->WriteInt(General, MinimizeWhenRunKey, state))) {
        SayConfig(EventLevel::Error, "cannot save " + what + " in " + ConfigFile->Path() + ": " + why.Text());
        return ConsoleResult::Refused("Unable to write to " + ConfigFile->Path(), why.Reason());
    }
    SayConfig(EventLevel::Info, "saved " + what + " in " + ConfigFile->Path());
    return ConsoleResult::Done();
}

// True also for an entry the console cannot read (like a value of another type in
// a registry): the box is then checked, and its handler reports the failure.
bool ConsoleModel::AutorunEntryExists() const
{
    std::string path;
    return AutorunKey && AutorunKey->ReadValue(path) != Autostart::Result::Missing;
}

// Also run for the start-up's own check of the window's box when the entry exists;
// so an entry that names another program path (the console was moved) is set to
// this executable at every start.
ConsoleResult ConsoleModel::SetAutorun(bool on)
{
    if (!on) {
        if (AutorunKey)
            AutorunKey->DeleteValue(); // a failure, or no entry, is ignored
        return ConsoleResult::Done();
    }
    if (AutorunKey) {
        std::string current;
        const Autostart::Result read = AutorunKey->ReadValue(current);
        if (read != Autostart::Result::Failed) {
            if (read == Autostart::Result::Missing)
                current.clear();
            const std::string path = ExecutablePath();
            if (!path.empty() && (current == path || AutorunKey->WriteValue(path)))
                return ConsoleResult::Done();
        }
    }
    return ConsoleResult::Refused("Access to registry failed!");
}

// ---------------------------------------------------------------- what load and reload read

std::string PortSection(int32_t number)
{
    return SectionOf(number);
}

ProfileFile::KeyValues LinkIdentity(const CNetObject& link)
{
    ProfileFile::KeyValues pairs;
    AddLinkPairs(pairs, 1, &link);
    std::erase_if(pairs, [](const auto& pair) {
        return pair.first == LinkKey(1, "AutoReconnect") || pair.first == LinkKey(1, "ReconnectIntervalTime");
    });
    return pairs;
}

