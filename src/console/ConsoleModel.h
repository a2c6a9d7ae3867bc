#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/ConfigLocation.h"
#include "console/ConsoleLinks.h"
#include "console/ConsoleObserver.h"
#include "console/ConsolePortOptions.h"
#include "console/ConsolePorts.h"
#include "console/ConsoleView.h"
#include "console/ConsoleResult.h"
#include "console/ConsoleStatus.h"
#include "console/LinkFields.h"
#include "console/TrafficWatch.h"
#include "ports/QLNManager.h"

#include "platform/config/ProfileFile.h"

class Autostart;
class StoredConfig;
struct StoredPort;

// What the console does, without a window: it owns the port manager (its ports,
// their links and options, the pump) and the configuration file, and carries out
// the commands of the window's context menu and options panels with the checks,
// messages and saves the window has always had. Whoever drives it (the window, or a
// command from elsewhere) learns of every change through ConsoleObserver.
//
// Window thread only: every operation runs on the thread of the console's event
// loop. Each takes the manager lock around what the pump also touches, as the
// window did; SavePortSettings holds it throughout, LoadSettings
// and Reload once the file is read.
//
// Ports and links are named by the objects the manager owns. An operation checks
// that the object is still the console's before it acts, so a caller holding an
// object that went meanwhile gets a refusal, not a crash.
class ConsoleModel {
public:
    // Makes the port manager; the model starts it.
    using ManagerMaker = std::function<std::unique_ptr<CQLNManager>()>;
    // Starts the manager: empty when it started.
    using ManagerStarter = std::function<Failure(CQLNManager& manager)>;

    // The console's manager on its driver package (DriverPackagePath); the device
    // code's messages are owned by `owner`.
    static ManagerMaker InstalledManager(WindowHandle owner);

    // Makes the manager and opens the configuration file and the autostart entry;
    // temporary files that an interrupted replacement of either left behind go.
    // Nothing is started or read yet.
    explicit ConsoleModel(const ManagerMaker& make, std::string configPath = ConfigLocation::Path());
    // Stops what runs (see Stop).
    ~ConsoleModel();
    ConsoleModel(const ConsoleModel&) = delete;
    ConsoleModel& operator=(const ConsoleModel&) = delete;

    // Starts the manager (`start` empty: on the installed devices). Refused with
    // "Initialize failed!" when there is no manager or it does not start.
    ConsoleResult Start(const ManagerStarter& start = {});
    bool IsRunning() const { return PortManager != nullptr && Started; }
    // Destroys the manager (the pump stops, every port and link closes) and releases
    // the configuration file and the autostart entry. Nothing is saved; observers are
    // not told (the console is going). Later commands find no ports or links.
    void Stop();
    // The first half of Stop: the manager alone goes (the pump stops, every port and
    // link closes); the configuration file and the autostart entry stay until Stop,
    // so that a window may release what showed the ports in between.
    void StopPorts();
    // The manager while the model has one; for its lock and for tests.
    CQLNManager* Manager() const { return PortManager.get(); }

    // Whether a window drives this console: the status says so, and a later start of
    // the window learns from it whether there is a window to bring forward.
    void SetHasWindow(bool shown) { HasWindow = shown; }

    // Observers are told in the order they were added. Not owned; an observer
    // removes itself before it goes.
    void AddObserver(ConsoleObserver* observer);
    void RemoveObserver(ConsoleObserver* observer);

    // ---- configuration (ConsoleSettings.cpp)

    // Once, after Start: every port takes its options and links from its section.
    // Observers hear each port, then each of its links, in order. The file is read
    // as StoredConfig reads it, and each of its problems is a warning of the event
    // log ("<file>:14: [COM3] Net2LocalPort=abc: not a number; link 2 left out"): a
    // link that cannot be made is left out; one whose settings cannot serve (a
    // key's mode, a missing file, a bad allow list, an address that cannot be
    // bound) is kept, never listening or connecting; a server or UDP link whose
    // local port is taken now is kept, not listening, and bound later. A value no
    // entrance would take is not loaded: the log stays off, the link is left out.
    void LoadSettings();
    // Rewrites the port's section from what it holds now, in one replacement of the
    // whole file. On a failure the file stays as it was, the event is logged, and
    // the result is NotSaved with the reason; what the port holds is not touched.
    ConsoleResult SavePortSettings(CPortObject* port);
    // Erases the port's section; a failure is logged and reported as SavePortSettings
    // reports one.
    ConsoleResult ErasePortSettings(int32_t number);
    // Reads the configuration file again and applies what differs from what runs
    // (ConsoleReload.cpp): each installed port's options, and its links: a link
    // whose entry is unchanged is kept with its connections (its reconnect options
    // set in place), a changed one is made anew (a server or UDP link on the same
    // local port taking over the socket, as ReplaceNet), one without an entry is
    // removed, a new entry added; the links end in the file's order. Values the load
    // would leave out are left out, and a section of a port that is not installed
    // is skipped, as at load. A changed entry whose new settings cannot serve leaves
    // its old link running. Observers hear every change; the event log says each,
    // then the file's problems as the load says them, then what the reload came to;
    // `said`, when given, gets those lines, and `problems` the number of problems.
    // Nothing is saved. Refused with "Reload failed!" when the file is missing or
    // cannot be read: what runs stays as it is.
    ConsoleResult Reload(std::vector<std::string>* said = nullptr, size_t* problems = nullptr);
    const std::string& ConfigPath() const;

    // "General"/"MinimizeWhenRun".
    bool MinimizeWhenRun() const;
    // Writes the state when the file holds another; refused with "Unable to write to
    // <path>" when the file cannot be written.
    ConsoleResult SetMinimizeWhenRun(bool on);

    // Whether the autostart entry exists, also one the console cannot read.
    bool AutorunEntryExists() const;
    // On: the entry runs this executable (rewritten when it names another);
    // refused with "Access to registry failed!". Off: the entry goes (failures ignored).
    ConsoleResult SetAutorun(bool on);

    // ---- ports

    // The ports an application holds open, in the manager's order.
    CQLNManager::PortList CollectOpenedPorts() { return Ports.CollectOpenedPorts(); }
    // Refused while an application holds any port: "COM3 is opened!\n…\nBefore
    // adding any port, please close all opened quillons!".
    ConsoleResult CanAddPort() { return Ports.CanAddPort(); }
    // Installs a port: `number` 0 lets the system choose, else that number even when
    // the database has it in use. Refused as CanAddPort, or with "Add port failed!".
    // The port gets no section until one of its options changes.
    ConsoleResult AddPort(int number) { return Ports.AddPort(number); }
    // Refused with "Before removing the port, please close it first!" while an
    // application holds it, "Remove port failed!" otherwise; its section is erased
    // once it is gone (NotSaved when that fails).
    ConsoleResult RemovePort(CPortObject* port) { return Ports.RemovePort(port); }
    // The console's port of that number, or null.
    CPortObject* FindPort(int32_t number) { return Ports.FindPort(number); }

    // ---- links

    // Checks `fields` as the add-net dialog does, makes the link, tells the observers
    // and saves the port. Refused with the check's message, or "Add net failed!".
    ConsoleResult AddNet(CPortObject* port, const LinkFields& fields) { return Links.AddNet(port, fields); }
    // Puts a link made from `fields` in the place of `link`: the same position in the
    // port's list and so the same index in its section, which is saved. Checked and
    // refused as AddNet; a link that cannot be made leaves `link` as it was. A server
    // or UDP link that keeps its kind and local port keeps its socket (and a server
    // its clients); a TCP client keeps its reconnect options. The pump is held only
    // while the new link is made and swapped in. Observers hear LinkReplaced.
    ConsoleResult ReplaceNet(CPortObject* port, CNetObject* link, const LinkFields& fields)
    {
        return Links.ReplaceNet(port, link, fields);
    }
    // Removes the link and saves the port.
    ConsoleResult RemoveNet(CPortObject* port, CNetObject* link) { return Links.RemoveNet(port, link); }
    // A new connection attempt of a TCP client link that is Unconnected; nothing for
    // any other link.
    ConsoleResult Reconnect(CPortObject* port, CNetObject* link) { return Links.Reconnect(port, link); }
    // Whether Reconnect would start an attempt: a TCP client link, Unconnected.
    bool CanReconnect(CPortObject* port, CNetObject* link) { return Links.CanReconnect(port, link); }
    // The port's link at `index` (from 0, list order), or null.
    CNetObject* FindLink(CPortObject* port, size_t index) { return Links.FindLink(port, index); }

    // ---- options: each applies the value, saves the port and tells the observers;
    // the result is NotSaved when the configuration file could not be written

    using Setting = ConsolePortOptions::Setting;
    // A typed value of one of the numeric settings by the console's whole-number rule
    // (no range check: 0 and negative numbers pass); refused with that setting's
    // message, "Set send to net delay time failed!" and the like.
    static ConsoleResult ReadSetting(Setting setting, std::string_view text, int32_t& value)
    {
        return ConsolePortOptions::ReadSetting(setting, text, value);
    }

    ConsoleResult SetSendToNetDelayTime(CPortObject* port, int32_t milliseconds)
    {
        return Options.SetSendToNetDelayTime(port, milliseconds);
    }
    ConsoleResult SetReceiveFromNetDelayTime(CPortObject* port, int32_t milliseconds)
    {
        return Options.SetReceiveFromNetDelayTime(port, milliseconds);
    }
    // The log's "Set", for every caller: a name that cannot be a path (LogNameProblem)
    // is refused with "Set log file failed!" and nothing changes. Otherwise the name
    // and mode are applied and saved (an empty name leaves the port without a log;
    // `mode` not 0 logs in hexadecimal text; `timestamps` puts the time, link and
    // peer in front of each record), and then, as CheckLogFile, refused with "Open
    // log file failed!" when records cannot be appended now: the name is kept, and
    // the log tries again at each record.
    ConsoleResult SetLog(CPortObject* port, const std::string& filename, int32_t mode, bool timestamps)
    {
        return Options.SetLog(port, filename, mode, timestamps);
    }
    // Why `filename` cannot name a log, in words for the user, or empty when it can:
    // a line break or NUL, or PATH_MAX characters or more.
    static std::string LogNameProblem(const std::string& filename)
    {
        return ConsolePortOptions::LogNameProblem(filename);
    }
    // Whether records could be appended to the log `filename` now (empty: no log,
    // nothing to check); refused with "Open log file failed!" and why. Opens nothing
    // that could wait and creates nothing.
    static ConsoleResult CheckLogFile(const std::string& filename)
    {
        return ConsolePortOptions::CheckLogFile(filename);
    }
    ConsoleResult SetAutoReconnect(CPortObject* port, CNetObject* link, bool on)
    {
        return Options.SetAutoReconnect(port, link, on);
    }
    ConsoleResult SetReconnectIntervalTime(CPortObject* port, CNetObject* link, int32_t milliseconds)
    {
        return Options.SetReconnectIntervalTime(port, link, milliseconds);
    }

    // ---- what the window shows of a port or link; each takes the lock, and a port or
    // link that is not the console's reads as empty (number 0, no text)

    int32_t PortNumber(CPortObject* port) { return View.PortNumber(port); }
    using PortSettings = ConsoleView::PortSettings;
    PortSettings SettingsOf(CPortObject* port) { return View.SettingsOf(port); }
    using LinkSettings = ConsoleView::LinkSettings;
    LinkSettings SettingsOf(CPortObject* port, CNetObject* link) { return View.SettingsOf(port, link); }
    // The port's node text: "COM3", "COM3 (Unavailable)".
    std::string PortText(CPortObject* port) { return View.PortText(port); }
    // The link's tree text (LinkTreeText), when something it shows changed since the last call (or
    // `always`); empty otherwise.
    std::string ChangedLinkText(CPortObject* port, CNetObject* link, bool always = false)
    {
        return View.ChangedLinkText(port, link, always);
    }
    // The tree texts of the port's links that changed since the last call, with one
    // look under the lock, however many links the port has.
    std::vector<std::pair<CNetObject*, std::string>> ChangedLinkTexts(CPortObject* port)
    {
        return View.ChangedLinkTexts(port);
    }

    // ---- the traffic monitor (TrafficWatch.cpp)

    // At most this many watches at once, all ports together.
    static constexpr size_t MaxWatches = 32;
    // Watches the port's traffic from now on: every chunk it moves is kept for the
    // watch, up to its tap's bound (beyond that records are counted as missed), until
    // the watch goes. `wake` is called when records start to wait, from the pump
    // thread with the manager lock held (it may only schedule a Take), and once on
    // this thread when the watch ends. Null, with `refusal` saying why, when the port
    // is not the console's ("No such port.") or MaxWatches watch already.
    std::unique_ptr<TrafficWatch> Watch(CPortObject* port, TrafficTap::Wake wake, ConsoleResult* refusal = nullptr);

    // ---- figures

    // Every port and link now; empty without a manager.
    ConsoleStatus Status();
    // The one port and its links now (the window's refresh); empty when the port is
    // not the console's.
    ConsoleStatus Status(CPortObject* port);
    // The port's status with `link` alone among its links (none when it is gone).
    ConsoleStatus Status(CPortObject* port, CNetObject* link);
    // The port's status without its links: what its figures show.
    ConsoleStatus PortStatus(CPortObject* port);

private:
    friend class TrafficWatch;
    friend class ConsolePortOptions;
    friend class ConsoleLinks;
    friend class ConsolePorts;
    friend class ConsoleView;

    // Opens the configuration file and the autostart entry (ConsoleSettings.cpp).
    void OpenSettings();
    // Reload's work on one port, lock held (ConsoleReload.cpp): its changes said and
    // counted in the tally.
    struct ReloadTally;
    class PortReload;
    // The watch goes (its destructor).
    void Unwatch(TrafficWatch* watch);
    // Ends the watches of `port` (null: every watch) with `why`; `portAlive`: the port
    // is still there to take their taps from.
    void EndWatches(CPortObject* port, bool portAlive, const std::string& why);
    bool Owns(CPortObject* port);
    bool Owns(CPortObject* port, CNetObject* link);
    // Calls every observer; a copy of the list, as an observer may remove itself
    // from inside its call.
    template <class Call>
    void Tell(Call&& call)
    {
        const std::vector<ConsoleObserver*> observers = Observers;
        for (ConsoleObserver* observer : observers)
            call(*observer);
    }

    std::unique_ptr<CQLNManager> PortManager;
    bool Started = false;
    std::unique_ptr<ProfileFile> ConfigFile;
    std::unique_ptr<Autostart> AutorunKey; // null when the autostart folder cannot be opened
    std::string ConfigFilePath;
    std::vector<ConsoleObserver*> Observers;
    std::vector<TrafficWatch*> Watches; // not owned; each leaves the list as it ends or goes
    bool HasWindow = false;
    ConsolePorts Ports{*this};
    ConsoleLinks Links{*this};
    ConsolePortOptions Options{*this};
    ConsoleView View{*this};
};
