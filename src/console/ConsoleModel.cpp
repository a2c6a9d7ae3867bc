// The console model's start, stop, observers, and the commands on ports, links and
// options. The configuration file and the autostart entry are in ConsoleSettings.cpp.
#include "console/ConsoleModel.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/InstallLayout.h"
#include "console/NodeTexts.h"
#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "platform/base/Folders.h"
#include "platform/base/UniqueFd.h"
#include "platform/config/Autostart.h"
#include "platform/config/ProfileFile.h"
#include "platform/config/WholeNumber.h"

namespace {

const char* const AddPortFailed = "Add port failed!";
const char* const AddNetFailed = "Add net failed!";
const char* const RemovePortFailed = "Remove port failed!";
const char* const OpenLogFailed = "Open log file failed!";

std::string ComName(int64_t number)
{
    return "COM" + std::to_string(number);
}

} // namespace

ConsoleModel::ManagerMaker ConsoleModel::InstalledManager(WindowHandle owner)
{
    return [owner] { return std::make_unique<CQLNManager>(owner, DriverPackagePath(ExecutableFolder())); };
}

ConsoleModel::ConsoleModel(const ManagerMaker& make, std::string configPath)
    : ConfigFilePath(std::move(configPath))
{
    if (make)
        PortManager = make();
    OpenSettings();
}

ConsoleModel::~ConsoleModel()
{
    Stop();
}

ConsoleResult ConsoleModel::Start(const ManagerStarter& start)
{
    int started = 0;
    if (PortManager)
        started = start ? start(*PortManager) : PortManager->Start();
    if (started != 1)
        return ConsoleResult::Refused("Initialize failed!");
    Started = true;
    return ConsoleResult::Done();
}

void ConsoleModel::StopPorts()
{
    if (PortManager)
        EndWatches(nullptr, true, "The console stopped.");
    PortManager.reset();
    Started = false;
}

void ConsoleModel::Stop()
{
    StopPorts();
    ConfigFile.reset();
    AutorunKey.reset();
}

void ConsoleModel::AddObserver(ConsoleObserver* observer)
{
    if (observer && std::find(Observers.begin(), Observers.end(), observer) == Observers.end())
        Observers.push_back(observer);
}

void ConsoleModel::RemoveObserver(ConsoleObserver* observer)
{
    std::erase(Observers, observer);
}

bool ConsoleModel::Owns(CPortObject* port)
{
    if (!port || !PortManager)
        return false;
    CQLNManager::PortList ports;
    PortManager->CopyPorts(&ports);
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

bool ConsoleModel::Owns(CPortObject* port, CNetObject* link)
{
    if (!link || !Owns(port))
        return false;
    CGuard guard(PortManager->Lock());
    const CPortObject::NetLinkList& links = port->GetNetLinks();
    return std::any_of(links.begin(), links.end(), [link](const auto& owned) { return owned.get() == link; });
}

// ---------------------------------------------------------------- views

int32_t ConsoleModel::PortNumber(CPortObject* port)
{
    return Owns(port) ? port->GetPortNumber() : 0;
}

ConsoleModel::PortSettings ConsoleModel::SettingsOf(CPortObject* port)
{
    PortSettings settings;
    if (!Owns(port))
        return settings;
    CGuard guard(PortManager->Lock());
    settings.SendToNetDelayTime = port->GetSendToNetDelayTime();
    settings.ReceiveFromNetDelayTime = port->GetReceiveFromNetDelayTime();
    settings.LogFilename = port->GetLogFilename();
    settings.LogMode = port->GetLogMode();
    settings.LogTimestamps = port->GetLogTimestamps();
    return settings;
}

ConsoleModel::LinkSettings ConsoleModel::SettingsOf(CPortObject* port, CNetObject* link)
{
    LinkSettings settings;
    if (!Owns(port, link))
        return settings;
    CGuard guard(PortManager->Lock());
    settings.Kind = link->Type;
    settings.RemoteAddr = link->RemoteAddr;
    settings.AutoReconnect = link->AutoReconnect;
    settings.ReconnectIntervalTime = link->ReconnectIntervalTime;
    return settings;
}

std::string ConsoleModel::PortText(CPortObject* port)
{
    return Owns(port) ? PortNodeText(*port) : std::string();
}

std::string ConsoleModel::ChangedLinkText(CPortObject* port, CNetObject* link, bool always)
{
    if (!Owns(port, link))
        return {};
    CGuard guard(PortManager->Lock());
    if (!link->Changed && !always)
        return {};
    link->Changed = false;
    return LinkTreeText(*link);
}

std::vector<std::pair<CNetObject*, std::string>> ConsoleModel::ChangedLinkTexts(CPortObject* port)
{
    std::vector<std::pair<CNetObject*, std::string>> texts;
    if (!Owns(port))
        return texts;
    CGuard guard(PortManager->Lock());
    for (const auto& link : port->GetNetLinks()) {
        if (!link->Changed)
            continue;
        link->Changed = false;
        texts.emplace_back(link.get(), LinkTreeText(*link));
    }
    return texts;
}

// ---------------------------------------------------------------- ports

CQLNManager::PortList ConsoleModel::CollectOpenedPorts()
{
    CQLNManager::PortList opened;
    if (PortManager)
        PortManager->CollectOpenedPorts(&opened);
    return opened;
}

ConsoleResult ConsoleModel::CanAddPort()
{
    if (!PortManager)
        return ConsoleResult::Refused({});
    // Installing a port closes and reopens every port, which an application holding
    // one would notice.
    const CQLNManager::PortList opened = CollectOpenedPorts();
    if (!opened.empty())
        return ConsoleResult::Refused(OpenedPortsText(opened)
                                      + "\nBefore adding any port, please close all opened quillons!");
    return ConsoleResult::Done();
}

ConsoleResult ConsoleModel::AddPort(int number)
{
    if (ConsoleResult refusal = CanAddPort(); !refusal)
        return refusal;
    // Refused before the device store is touched: an install closes every port for
    // a moment, only to fail.
    if (number < 0)
        return ConsoleResult::Refused(AddPortFailed, "COM numbers start at 1; 0 lets the system choose.");
    if (number != 0 && FindPort(number))
        return ConsoleResult::Refused(AddPortFailed, ComName(number) + " is already a port of this console.");
    CPortObject* port = PortManager->AddPort(number);
    if (!port)
        return ConsoleResult::Refused(AddPortFailed, "The port's device could not be installed.");
    SayEvent(EventLevel::Info, ComName(port->GetPortNumber()), "added");
    Tell([port](ConsoleObserver& observer) { observer.PortAdded(port); });
    ConsoleResult done;
    done.Port = port;
    return done;
}

ConsoleResult ConsoleModel::RemovePort(CPortObject* port)
{
    if (!PortManager || !port)
        return ConsoleResult::Refused({});
    if (!Owns(port))
        return ConsoleResult::Refused(RemovePortFailed, "No such port.");
    const int32_t number = port->GetPortNumber();
    switch (PortManager->RemovePort(port)) {
    case 1:
        SayEvent(EventLevel::Info, ComName(number), "removed");
        EndWatches(port, false, ComName(number) + " was removed.");
        Tell([port](ConsoleObserver& observer) { observer.PortRemoved(port); });
        return ErasePortSettings(number);
    case -1:
        return ConsoleResult::Refused("Before removing the port, please close it first!",
                                      "An application holds " + ComName(number) + " open.");
    default:
        return ConsoleResult::Refused(RemovePortFailed);
    }
}

CPortObject* ConsoleModel::FindPort(int32_t number)
{
    if (!PortManager)
        return nullptr;
    CQLNManager::PortList ports;
    PortManager->CopyPorts(&ports);
    for (CPortObject* port : ports) {
        if (port->GetPortNumber() == number)
            return port;
    }
    return nullptr;
}

// ---------------------------------------------------------------- links

ConsoleResult ConsoleModel::AddNet(CPortObject* port, const LinkFields& fields)
{
    if (!Owns(port))
        return ConsoleResult::Refused(AddNetFailed, "No such port.");
    const LinkCheck check = CheckLink(fields);
    if (!check.Result)
        return check.Result;

    Failure whyRefused;
    CNetObject* link = MakeLink(*port, fields, check, CPortObject::BindFailure::Refuse, whyRefused);
    if (!link)
        return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, whyRefused));
    Tell([port, link](ConsoleObserver& observer) { observer.LinkAdded(port, link); });
    ConsoleResult done = SavePortSettings(port);
    done.Port = port;
    done.Link = link;
    return done;
}

CNetObject* ConsoleModel::MakeLink(CPortObject& port, const LinkFields& fields, const LinkCheck& check,
                                   CPortObject::BindFailure onFailure, Failure& whyRefused)
{
    // The host goes to the link as typed; whether it can be reached shows only when
    // the link connects or sends.
    const LinkOptions options = OptionsOf(fields);
    switch (fields.Kind) {
    case TcpClient:
        return port.AddTcpClient(fields.RemoteAddr.c_str(), check.RemotePort, options, onFailure, &whyRefused);
    case TcpServer:
        return port.AddTcpServer(check.LocalPort, onFailure, &whyRefused, options);
    case Udp:
        return port.AddUdp(check.LocalPort, fields.RemoteAddr.c_str(), check.RemotePort, onFailure, &whyRefused,
                           options);
    }
    return nullptr;
}

ConsoleResult ConsoleModel::ReplaceNet(CPortObject* port, CNetObject* link, const LinkFields& fields)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused(AddNetFailed, "No such link.");
    const LinkCheck check = CheckLink(fields);
    if (!check.Result)
        return check.Result;

    CNetObject* fresh = nullptr;
    Failure whyRefused;
    {
        // One hold from making the new link to the swap: the pump never serves both.
        CGuard guard(PortManager->Lock());
        // A port the old link holds cannot be bound a second time; the swap hands the
        // old socket over instead, so the new link is kept even when its bind failed.
        fresh = MakeLink(*port, fields, check, CPortObject::BindFailure::KeepAndRetry, whyRefused);
        if (fresh && fresh->Type == TcpClient && link->Type == TcpClient) {
            fresh->AutoReconnect = link->AutoReconnect;
            fresh->ReconnectIntervalTime = link->ReconnectIntervalTime;
        }
        if (fresh && !port->ReplaceLink(link, fresh, &whyRefused))
            fresh = nullptr;
        if (!fresh)
            return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, whyRefused));
    }
    Tell([&](ConsoleObserver& observer) { observer.LinkReplaced(port, link, fresh); });
    ConsoleResult done = SavePortSettings(port);
    done.Port = port;
    done.Link = fresh;
    return done;
}

ConsoleResult ConsoleModel::RemoveNet(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused({});
    port->RemoveLink(link);
    Tell([port, link](ConsoleObserver& observer) { observer.LinkRemoved(port, link); });
    return SavePortSettings(port);
}

ConsoleResult ConsoleModel::Reconnect(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused({});
    // The new state shows in the link's text at the next refresh: Reconnect marks it.
    if (link->Type == TcpClient)
        port->Reconnect(link);
    return ConsoleResult::Done();
}

bool ConsoleModel::CanReconnect(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return false;
    // The pump changes the connection state; read it under the lock.
    CGuard guard(PortManager->Lock());
    return link->Type == TcpClient && link->GetLinkState() == Unconnected;
}

CNetObject* ConsoleModel::FindLink(CPortObject* port, size_t index)
{
    if (!Owns(port))
        return nullptr;
    CGuard guard(PortManager->Lock());
    CPortObject::NetLinkList& links = port->GetNetLinks();
    if (index >= links.size())
        return nullptr;
    return std::next(links.begin(), static_cast<std::ptrdiff_t>(index))->get();
}

// ---------------------------------------------------------------- options

ConsoleResult ConsoleModel::ReadSetting(Setting setting, std::string_view text, int32_t& value)
{
    if (ParseWholeNumber(text, value))
        return ConsoleResult::Done();
    const char* message = "";
    switch (setting) {
    case Setting::SendToNetDelayTime:
        message = "Set send to net delay time failed!";
        break;
    case Setting::ReceiveFromNetDelayTime:
        message = "Set receive from net delay time failed!";
        break;
    case Setting::ReconnectIntervalTime:
        message = "Set reconnect interval time failed!";
        break;
    }
    return ConsoleResult::Refused(message, "Enter a whole number of milliseconds from -2147483648 to 2147483647.");
}

template <class Change>
ConsoleResult ConsoleModel::ChangePort(CPortObject* port, CNetObject* link, ConsoleObserver::Option option,
                                       Change&& change)
{
    if (link ? !Owns(port, link) : !Owns(port))
        return ConsoleResult::Refused({});
    ConsoleResult saved;
    {
        // The pump reads the options on its passes.
        CGuard guard(PortManager->Lock());
        PortManager->Lock()->Touch(); // the pump goes by the new value from now on
        change();
        saved = SavePortSettings(port);
    }
    Tell([&](ConsoleObserver& observer) { observer.OptionChanged(port, link, option); });
    return saved;
}

ConsoleResult ConsoleModel::SetSendToNetDelayTime(CPortObject* port, int32_t milliseconds)
{
    return ChangePort(port, nullptr, ConsoleObserver::Option::SendToNetDelayTime,
                      [&] { port->SetSendToNetDelayTime(milliseconds); });
}

ConsoleResult ConsoleModel::SetReceiveFromNetDelayTime(CPortObject* port, int32_t milliseconds)
{
    return ChangePort(port, nullptr, ConsoleObserver::Option::ReceiveFromNetDelayTime,
                      [&] { port->SetReceiveFromNetDelayTime(milliseconds); });
}

ConsoleResult ConsoleModel::SetLog(CPortObject* port, const std::string& filename, int32_t mode, bool timestamps)
{
    if (const std::string problem = LogNameProblem(filename); !problem.empty())
        return ConsoleResult::Refused("Set log file failed!", problem);
    ConsoleResult result = ChangePort(port, nullptr, ConsoleObserver::Option::Log, [&] {
        port->SetLogFile(filename.c_str());
        port->SetLogMode(mode != 0 ? 1 : 0);
        port->SetLogTimestamps(timestamps);
    });
    // A change that could not be saved is the graver news; the name is kept either way.
    if (!result || result.Unsaved)
        return result;
    return CheckLogFile(filename);
}

std::string ConsoleModel::LogNameProblem(const std::string& filename)
{
    if (HasLineBreakOrNul(filename))
        return "The log file's name must be one line, without a line break or a NUL character.";
    // The configuration file's bound is the shorter one: a name it could not keep
    // whole would come back as another path.
    return ProfileText::LengthProblem("The log file's name", filename);
}

ConsoleResult ConsoleModel::CheckLogFile(const std::string& filename)
{
    if (filename.empty())
        return ConsoleResult::Done();
    // As the log opens its file for each record: never waiting, a regular file only.
    const UniqueFd fd(::open(filename.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    std::string why;
    struct stat st {};
    if (!fd)
        why = std::strerror(errno);
    else if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        why = "it is not a regular file";
    if (why.empty())
        return ConsoleResult::Done();
    return ConsoleResult::Refused(OpenLogFailed, filename + " cannot be appended to: " + why
                                                     + ". The name is kept; nothing is logged until it can.");
}

ConsoleResult ConsoleModel::SetAutoReconnect(CPortObject* port, CNetObject* link, bool on)
{
    return ChangePort(port, link, ConsoleObserver::Option::AutoReconnect, [&] { link->AutoReconnect = on; });
}

ConsoleResult ConsoleModel::SetReconnectIntervalTime(CPortObject* port, CNetObject* link, int32_t milliseconds)
{
    return ChangePort(port, link, ConsoleObserver::Option::ReconnectIntervalTime,
                      [&] { link->ReconnectIntervalTime = milliseconds; });
}

// ---------------------------------------------------------------- figures

ConsoleStatus ConsoleModel::Status()
{
    ConsoleStatus status = PortManager ? TakeStatus(*PortManager) : ConsoleStatus{};
    status.Window = HasWindow;
    return status;
}

ConsoleStatus ConsoleModel::Status(CPortObject* port)
{
    return PortManager && port ? TakeStatus(*PortManager, port) : ConsoleStatus{};
}

ConsoleStatus ConsoleModel::PortStatus(CPortObject* port)
{
    return PortManager && port ? TakeStatus(*PortManager, port, nullptr, false) : ConsoleStatus{};
}

ConsoleStatus ConsoleModel::Status(CPortObject* port, CNetObject* link)
{
    return PortManager && port && link ? TakeStatus(*PortManager, port, link) : ConsoleStatus{};
}
