// Implements ConsoleModel::Reload: the configuration file read again, and what differs
// from what runs applied, port by port, keeping every link whose entry did not change.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "console/ConsoleModel.h"
#include "console/StoredConfig.h"
#include "console/StoredSettings.h"
#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "platform/base/EventLog.h"
#include "platform/base/UniqueFd.h"

namespace {

// Why the file cannot be reloaded, in words for the user; empty when it can.
std::string WhyNotReloadable(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return path + " does not exist.";
        return path + ": " + std::strerror(errno) + ".";
    }
    if (S_ISDIR(st.st_mode))
        return path + ": " + std::strerror(EISDIR) + ".";
    if (!UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)))
        return path + ": " + std::strerror(errno) + ".";
    return {};
}

std::string LogText(const std::string& name, int32_t mode, bool timestamps)
{
    if (name.empty())
        return "off";
    std::string form = mode ? "hex" : "";
    if (timestamps)
        form += form.empty() ? "timestamps" : ", timestamps";
    return form.empty() ? name : name + " (" + form + ")";
}

std::string Count(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

struct ConsoleModel::ReloadTally {
    std::vector<std::string> Said;
    size_t Added = 0;
    size_t Changed = 0;
    size_t Removed = 0;
    size_t Kept = 0;
    size_t Options = 0;

    void Say(const std::string& text)
    {
        SayEvent(EventLevel::Info, "config", text);
        Said.push_back(text);
    }
};

ConsoleResult ConsoleModel::Reload(std::vector<std::string>* said, size_t* problemCount)
{
    if (!PortManager || !ConfigFile)
        return ConsoleResult::Refused("Reload failed!", "The console does not run.");
    const std::string& path = ConfigFile->Path();
    if (const std::string why = WhyNotReloadable(path); !why.empty()) {
        SayEvent(EventLevel::Warning, "config", "not reloaded: " + why + " Nothing was changed.");
        return ConsoleResult::Refused("Reload failed!", why + " Nothing was changed.");
    }
    // Read once, before the lock, as at load.
    const ProfileFile::Snapshot file = ConfigFile->TakeSnapshot();
    ReloadTally tally;
    CQLNManager::PortList ports;
    std::vector<std::string> problems;
    PortManager->CopyPorts(&ports);
    StoredConfig stored(path, file.Text(), PortNumbers(ports)); // before the pump is held, as at load
    {
        CGuard guard(PortManager->Lock());
        for (CPortObject* port : ports)
            ReloadPort(port, stored.Port(port->GetPortNumber()), stored, tally);
        problems = stored.ProblemLines();
    }
    for (const std::string& problem : problems) {
        SayEvent(EventLevel::Warning, "config", problem);
        tally.Said.push_back(problem);
    }
    Tell([](ConsoleObserver& observer) { observer.ConsoleOptionsReloaded(); });

    const std::string summary = "reloaded " + path + ": " + Count(tally.Added, "link", "links") + " added, "
        + std::to_string(tally.Changed) + " changed, " + std::to_string(tally.Removed) + " removed, "
        + std::to_string(tally.Kept) + " kept; " + Count(tally.Options, "option", "options") + " changed"
        + ProblemsText(problems.size());
    SayEvent(problems.empty() ? EventLevel::Notice : EventLevel::Warning, "config", summary);
    tally.Said.push_back(summary);
    if (said)
        *said = std::move(tally.Said);
    if (problemCount)
        *problemCount = problems.size();
    return ConsoleResult::Done();
}

void ConsoleModel::ReloadPort(CPortObject* port, const StoredPort& stored, StoredConfig& config, ReloadTally& tally)
{
    using Option = ConsoleObserver::Option;
    const std::string name = PortSection(port->GetPortNumber());
    auto optionChanged = [&](CNetObject* link, Option option, const std::string& text) {
        ++tally.Options;
        tally.Say(link ? text : name + ": " + text); // a link's text names its port
        Tell([&](ConsoleObserver& observer) { observer.OptionChanged(port, link, option); });
    };

    // The port's options.
    const StoredPortOptions& options = stored.Options;
    if (const int32_t was = port->GetSendToNetDelayTime(); was != options.SendToNetDelayTime) {
        port->SetSendToNetDelayTime(options.SendToNetDelayTime);
        optionChanged(nullptr, Option::SendToNetDelayTime, "send delay " + std::to_string(options.SendToNetDelayTime)
                                                               + " ms (was " + std::to_string(was) + " ms)");
    }
    if (const int32_t was = port->GetReceiveFromNetDelayTime(); was != options.ReceiveFromNetDelayTime) {
        port->SetReceiveFromNetDelayTime(options.ReceiveFromNetDelayTime);
        optionChanged(nullptr, Option::ReceiveFromNetDelayTime,
                      "receive delay " + std::to_string(options.ReceiveFromNetDelayTime) + " ms (was "
                          + std::to_string(was) + " ms)");
    }
    const std::string logWas = LogText(port->GetLogFilename(), port->GetLogMode(), port->GetLogTimestamps());
    const std::string logNow = LogText(options.LogFilename, options.LogMode, options.LogTimestamps);
    if (logWas != logNow) {
        // The same file goes on as it was; another one starts afresh.
        if (port->GetLogFilename() != options.LogFilename)
            port->SetLogFile(options.LogFilename.c_str());
        port->SetLogMode(options.LogMode);
        port->SetLogTimestamps(options.LogTimestamps);
        optionChanged(nullptr, Option::Log, "log " + logNow + " (was " + logWas + ")");
    }

    // The links the file describes, made but not started, in its order.
    std::vector<std::unique_ptr<CNetObject>> wanted;
    std::vector<const StoredLink*> wantedEntries;
    for (const StoredLink& entry : stored.Links) {
        if (std::unique_ptr<CNetObject> link = port->MakeLink(entry.Maker())) {
            wanted.push_back(std::move(link));
            wantedEntries.push_back(&entry);
        }
    }
    std::vector<CNetObject*> current;
    std::vector<ProfileFile::KeyValues> currentIdentity;
    for (const auto& link : port->GetNetLinks()) {
        current.push_back(link.get());
        currentIdentity.push_back(LinkIdentity(*link));
    }
    std::vector<bool> used(current.size(), false);
    std::vector<CNetObject*> kept(wanted.size(), nullptr);
    std::vector<CNetObject*> replaced(wanted.size(), nullptr);

    // An unchanged entry keeps its link, with its connections.
    for (size_t i = 0; i < wanted.size(); ++i) {
        const ProfileFile::KeyValues identity = LinkIdentity(*wanted[i]);
        for (size_t j = 0; j < current.size() && !kept[i]; ++j) {
            if (!used[j] && currentIdentity[j] == identity) {
                used[j] = true;
                kept[i] = current[j];
            }
        }
    }
    // A changed entry takes the place of a link of its kind that has no entry now: one
    // on its local port (whose socket it takes over), else the one in its place, else
    // the first.
    auto pick = [&](size_t i, auto&& fits) {
        for (size_t j = 0; j < current.size() && !replaced[i]; ++j) {
            if (!used[j] && current[j]->Type == wanted[i]->Type && fits(j)) {
                used[j] = true;
                replaced[i] = current[j];
            }
        }
    };
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (!kept[i] && wanted[i]->Type != TcpClient)
            pick(i, [&](size_t j) { return current[j]->LocalPort == wanted[i]->LocalPort; });
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (!kept[i] && !replaced[i])
            pick(i, [&](size_t j) { return j == i; });
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (!kept[i] && !replaced[i])
            pick(i, [](size_t) { return true; });
    }

    // The links without an entry go first, so that new ones can have their ports.
    for (size_t j = 0; j < current.size(); ++j) {
        if (used[j])
            continue;
        const std::string gone = current[j]->Name();
        port->RemoveLink(current[j]);
        ++tally.Removed;
        tally.Say(gone + " removed");
        CNetObject* removed = current[j];
        Tell([&](ConsoleObserver& observer) { observer.LinkRemoved(port, removed); });
    }

    // New and changed entries, kept as at load when their local port is taken. A
    // changed entry whose new settings cannot serve leaves the old link running, as
    // an edit does; a new one is kept, not serving, as at load.
    std::vector<CNetObject*> order(wanted.size(), nullptr);
    // Said once the links stand in the file's order, each by its place then.
    std::vector<std::pair<CNetObject*, std::string>> news;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (kept[i]) {
            order[i] = kept[i];
            ++tally.Kept;
            continue;
        }
        const StoredLink& entry = *wantedEntries[i];
        CNetObject* old = replaced[i];
        Failure failed;
        CNetObject* fresh = StartStoredLink(*port, entry, config, std::move(wanted[i]), &failed);
        if (!fresh)
            continue;
        const std::string oldLabel = old ? old->Label() : std::string();
        if (old && failed) {
            port->RemoveLink(fresh);
            order[i] = old;
            ++tally.Kept;
            tally.Say(old->Name() + " kept: the new settings of link " + std::to_string(entry.Index)
                      + " cannot serve");
            continue;
        }
        if (old && !port->ReplaceLink(old, fresh)) {
            // It could not take the old link's place (another program holds its port):
            // the old one goes, and the new one waits for its port as at load.
            port->RemoveLink(old);
            fresh = StartStoredLink(*port, entry, config);
            Tell([&](ConsoleObserver& observer) { observer.LinkRemoved(port, old); });
            if (fresh)
                Tell([&](ConsoleObserver& observer) { observer.LinkAdded(port, fresh); });
        } else if (old) {
            Tell([&](ConsoleObserver& observer) { observer.LinkReplaced(port, old, fresh); });
        } else {
            Tell([&](ConsoleObserver& observer) { observer.LinkAdded(port, fresh); });
        }
        if (!fresh)
            continue;
        if (old) {
            ++tally.Changed;
            news.emplace_back(fresh, "changed: was " + oldLabel);
        } else {
            ++tally.Added;
            news.emplace_back(fresh, "added");
        }
        order[i] = fresh;
    }

    // A kept link takes the entry's reconnect options in place.
    for (size_t i = 0; i < wanted.size(); ++i) {
        CNetObject* link = kept[i];
        if (!link || link->Type != TcpClient)
            continue;
        if (link->AutoReconnect != wantedEntries[i]->AutoReconnect) {
            link->AutoReconnect = wantedEntries[i]->AutoReconnect;
            optionChanged(link, Option::AutoReconnect,
                          link->Name() + " auto reconnect " + (link->AutoReconnect ? "on" : "off"));
        }
        if (const int32_t was = link->ReconnectIntervalTime; was != wantedEntries[i]->ReconnectIntervalTime) {
            link->ReconnectIntervalTime = wantedEntries[i]->ReconnectIntervalTime;
            optionChanged(link, Option::ReconnectIntervalTime,
                          link->Name() + " reconnect interval " + std::to_string(link->ReconnectIntervalTime)
                              + " ms (was " + std::to_string(was) + " ms)");
        }
    }

    // The links in the file's order.
    std::erase(order, nullptr);
    std::vector<CNetObject*> now;
    for (const auto& link : port->GetNetLinks())
        now.push_back(link.get());
    if (now != order && !order.empty()) {
        port->ArrangeLinks(order);
        Tell([&](ConsoleObserver& observer) { observer.LinksReordered(port); });
    }
    for (const auto& [link, what] : news)
        tally.Say(link->Name() + " " + what);
}
