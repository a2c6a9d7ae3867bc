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

// Reload's work on one port, lock held, in steps: the port's options; the links the
// file describes matched with those that run (kept, replaced or new); the links
// without an entry removed; the new and changed ones started; the kept ones' options;
// the file's order. Its changes are said and counted in the tally.
class ConsoleModel::PortReload {
public:
    PortReload(ConsoleModel& model, CPortObject* port, const StoredPort& stored, StoredConfig& config,
               ReloadTally& tally)
        : Model(model), Port(port), Stored(stored), Config(config), Tally(tally),
          Name(PortSection(port->GetPortNumber()))
    {
    }

    void Run()
    {
        ReloadPortOptions();
        MakeWanted();
        MatchUnchanged();
        MatchReplaced();
        RemoveUnwanted();
        for (size_t i = 0; i < Wanted.size(); ++i)
            StartEntry(i);
        ReloadLinkOptions();
        Arrange();
    }

private:
    using Option = ConsoleObserver::Option;

    void OptionChanged(CNetObject* link, Option option, const std::string& text)
    {
        ++Tally.Options;
        Tally.Say(link ? text : Name + ": " + text); // a link's text names its port
        Model.Tell([&](ConsoleObserver& observer) { observer.OptionChanged(Port, link, option); });
    }

    void ReloadPortOptions()
    {
        const StoredPortOptions& options = Stored.Options;
        if (const int32_t was = Port->GetSendToNetDelayTime(); was != options.SendToNetDelayTime) {
            Port->SetSendToNetDelayTime(options.SendToNetDelayTime);
            OptionChanged(nullptr, Option::SendToNetDelayTime, "send delay " + std::to_string(options.SendToNetDelayTime)
                                                                   + " ms (was " + std::to_string(was) + " ms)");
        }
        if (const int32_t was = Port->GetReceiveFromNetDelayTime(); was != options.ReceiveFromNetDelayTime) {
            Port->SetReceiveFromNetDelayTime(options.ReceiveFromNetDelayTime);
            OptionChanged(nullptr, Option::ReceiveFromNetDelayTime,
                          "receive delay " + std::to_string(options.ReceiveFromNetDelayTime) + " ms (was "
                              + std::to_string(was) + " ms)");
        }
        const std::string logWas = LogText(Port->GetLogFilename(), Port->GetLogMode(), Port->GetLogTimestamps());
        const std::string logNow = LogText(options.LogFilename, options.LogMode, options.LogTimestamps);
        if (logWas != logNow) {
            // The same file goes on as it was; another one starts afresh.
            if (Port->GetLogFilename() != options.LogFilename)
                Port->SetLogFile(options.LogFilename.c_str());
            Port->SetLogMode(options.LogMode);
            Port->SetLogTimestamps(options.LogTimestamps);
            OptionChanged(nullptr, Option::Log, "log " + logNow + " (was " + logWas + ")");
        }
    }

    // The links the file describes, made but not started, in its order; and those
    // that run now.
    void MakeWanted()
    {
        for (const StoredLink& entry : Stored.Links) {
            if (std::unique_ptr<CNetObject> link = Port->MakeLink(entry.Maker())) {
                Wanted.push_back(std::move(link));
                WantedEntries.push_back(&entry);
            }
        }
        for (const auto& link : Port->GetNetLinks()) {
            Current.push_back(link.get());
            CurrentIdentity.push_back(LinkIdentity(*link));
        }
        Used.assign(Current.size(), false);
        Kept.assign(Wanted.size(), nullptr);
        Replaced.assign(Wanted.size(), nullptr);
        Order.assign(Wanted.size(), nullptr);
    }

    // An unchanged entry keeps its link, with its connections.
    void MatchUnchanged()
    {
        for (size_t i = 0; i < Wanted.size(); ++i) {
            const ProfileFile::KeyValues identity = LinkIdentity(*Wanted[i]);
            for (size_t j = 0; j < Current.size() && !Kept[i]; ++j) {
                if (!Used[j] && CurrentIdentity[j] == identity) {
                    Used[j] = true;
                    Kept[i] = Current[j];
                }
            }
        }
    }

    // A changed entry takes the place of a link of its kind that has no entry now: one
    // on its local port (whose socket it takes over), else the one in its place, else
    // the first.
    void MatchReplaced()
    {
        auto pick = [&](size_t i, auto&& fits) {
            for (size_t j = 0; j < Current.size() && !Replaced[i]; ++j) {
                if (!Used[j] && Current[j]->Type == Wanted[i]->Type && fits(j)) {
                    Used[j] = true;
                    Replaced[i] = Current[j];
                }
            }
        };
        for (size_t i = 0; i < Wanted.size(); ++i) {
            if (!Kept[i] && Wanted[i]->Type != NetKind::TcpClient)
                pick(i, [&](size_t j) { return Current[j]->Settings().LocalPort == Wanted[i]->Settings().LocalPort; });
        }
        for (size_t i = 0; i < Wanted.size(); ++i) {
            if (!Kept[i] && !Replaced[i])
                pick(i, [&](size_t j) { return j == i; });
        }
        for (size_t i = 0; i < Wanted.size(); ++i) {
            if (!Kept[i] && !Replaced[i])
                pick(i, [](size_t) { return true; });
        }
    }

    // The links without an entry go first, so that new ones can have their ports.
    void RemoveUnwanted()
    {
        for (size_t j = 0; j < Current.size(); ++j) {
            if (Used[j])
                continue;
            const std::string gone = Current[j]->Name();
            CNetObject* removed = Current[j];
            Port->RemoveLink(removed);
            ++Tally.Removed;
            Tally.Say(gone + " removed");
            Model.Tell([&](ConsoleObserver& observer) { observer.LinkRemoved(Port, removed); });
        }
    }

    // Entry `i`: kept, or new or changed and started, kept as at load when its local
    // port is taken. A changed entry whose new settings cannot serve leaves the old
    // link running, as an edit does; a new one is kept, not serving, as at load.
    void StartEntry(size_t i)
    {
        if (Kept[i]) {
            Order[i] = Kept[i];
            ++Tally.Kept;
            return;
        }
        const StoredLink& entry = *WantedEntries[i];
        CNetObject* old = Replaced[i];
        const StartedLink started = StartStoredLink(*Port, entry, Config, std::move(Wanted[i]));
        CNetObject* fresh = started.Link;
        if (!fresh)
            return;
        const std::string oldLabel = old ? old->Label() : std::string();
        if (old && started.Failed) {
            Port->RemoveLink(fresh);
            Order[i] = old;
            ++Tally.Kept;
            Tally.Say(old->Name() + " kept: the new settings of link " + std::to_string(entry.Index) + " cannot serve");
            return;
        }
        fresh = PutInPlace(old, fresh, entry);
        if (!fresh)
            return;
        if (old) {
            ++Tally.Changed;
            News.emplace_back(fresh, "changed: was " + oldLabel);
        } else {
            ++Tally.Added;
            News.emplace_back(fresh, "added");
        }
        Order[i] = fresh;
    }

    // The started link `fresh` in the place of `old` (null: a new link), told to the
    // observers; the link that serves the entry then, or null.
    CNetObject* PutInPlace(CNetObject* old, CNetObject* fresh, const StoredLink& entry)
    {
        if (old && !Port->ReplaceLink(old, fresh).Link) {
            // It could not take the old link's place (another program holds its port):
            // the old one goes, and the new one waits for its port as at load.
            Port->RemoveLink(old);
            fresh = StartStoredLink(*Port, entry, Config).Link;
            Model.Tell([&](ConsoleObserver& observer) { observer.LinkRemoved(Port, old); });
            if (fresh)
                Model.Tell([&](ConsoleObserver& observer) { observer.LinkAdded(Port, fresh); });
        } else if (old) {
            Model.Tell([&](ConsoleObserver& observer) { observer.LinkReplaced(Port, old, fresh); });
        } else {
            Model.Tell([&](ConsoleObserver& observer) { observer.LinkAdded(Port, fresh); });
        }
        return fresh;
    }

    // A kept link takes the entry's reconnect options in place.
    void ReloadLinkOptions()
    {
        for (size_t i = 0; i < Wanted.size(); ++i) {
            CNetObject* link = Kept[i];
            if (!link || link->Type != NetKind::TcpClient)
                continue;
            if (link->Settings().AutoReconnect != WantedEntries[i]->AutoReconnect) {
                link->SetAutoReconnect(WantedEntries[i]->AutoReconnect);
                OptionChanged(link, Option::AutoReconnect,
                              link->Name() + " auto reconnect " + (link->Settings().AutoReconnect ? "on" : "off"));
            }
            if (const int32_t was = link->Settings().ReconnectIntervalTime; was != WantedEntries[i]->ReconnectIntervalTime) {
                link->SetReconnectInterval(WantedEntries[i]->ReconnectIntervalTime);
                OptionChanged(link, Option::ReconnectIntervalTime,
                              link->Name() + " reconnect interval " + std::to_string(link->Settings().ReconnectIntervalTime)
                                  + " ms (was " + std::to_string(was) + " ms)");
            }
        }
    }

    // The links in the file's order; then the new and changed ones said, each by its
    // place in that order.
    void Arrange()
    {
        std::erase(Order, nullptr);
        std::vector<CNetObject*> now;
        for (const auto& link : Port->GetNetLinks())
            now.push_back(link.get());
        if (now != Order && !Order.empty()) {
            Port->ArrangeLinks(Order);
            Model.Tell([&](ConsoleObserver& observer) { observer.LinksReordered(Port); });
        }
        for (const auto& [link, what] : News)
            Tally.Say(link->Name() + " " + what);
    }

    ConsoleModel& Model;
    CPortObject* Port;
    const StoredPort& Stored;
    StoredConfig& Config;
    ReloadTally& Tally;
    const std::string Name; // the port's section: "COM3"

    std::vector<std::unique_ptr<CNetObject>> Wanted; // made, not started; moved out as started
    std::vector<const StoredLink*> WantedEntries;
    std::vector<CNetObject*> Current;
    std::vector<ProfileFile::KeyValues> CurrentIdentity;
    std::vector<bool> Used;               // of Current: has an entry now
    std::vector<CNetObject*> Kept;        // of Wanted: the link that runs on unchanged
    std::vector<CNetObject*> Replaced;    // of Wanted: the link it takes the place of
    std::vector<CNetObject*> Order;       // of Wanted: the link that serves it
    std::vector<std::pair<CNetObject*, std::string>> News; // said once the links stand in order
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
            PortReload(*this, port, stored.Port(port->GetPortNumber()), stored, tally).Run();
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
