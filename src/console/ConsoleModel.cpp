// The console model's start, stop, observers, and the commands on ports, links and
// options. The configuration file and the autostart entry are in ConsoleSettings.cpp.
#include "console/ConsoleModel.h"

#include <algorithm>

#include "console/InstallLayout.h"
#include "console/NodeTexts.h"
#include "forwarding/PortObject.h"
#include "net/NetObject.h"
#include "platform/base/Folders.h"
#include "platform/config/Autostart.h"
#include "platform/config/ProfileFile.h"
#include "platform/config/WholeNumber.h"

namespace {

const char* const AddPortFailed = "Add port failed!";
const char* const AddNetFailed = "Add net failed!";
const char* const RemovePortFailed = "Remove port failed!";

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

void ConsoleModel::Stop()
{
    PortManager.reset();
    Started = false;
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
        return ConsoleResult::Refused(AddPortFailed);
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
        Tell([port](ConsoleObserver& observer) { observer.PortRemoved(port); });
        ErasePortSettings(number);
        return ConsoleResult::Done();
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

ConsoleResult ConsoleModel::AddNet(CPortObject* port, const LinkSpec& spec)
{
    if (!Owns(port))
        return ConsoleResult::Refused(AddNetFailed, "No such port.");
    const LinkCheck check = CheckLink(spec);
    if (!check.Result)
        return check.Result;

    // The host goes to the link as typed; whether it can be reached shows only when
    // the link connects or sends.
    CNetObject* link = nullptr;
    std::string whyRefused;
    const LinkOptions options = OptionsOf(spec);
    switch (spec.Kind) {
    case TcpClient:
        link = port->AddTcpClient(spec.RemoteAddr.c_str(), check.RemotePort, options);
        break;
    case TcpServer:
        link = port->AddTcpServer(check.LocalPort, CPortObject::BindFailure::Refuse, &whyRefused, options);
        break;
    case Udp:
        link = port->AddUdp(check.LocalPort, spec.RemoteAddr.c_str(), check.RemotePort,
                            CPortObject::BindFailure::Refuse, &whyRefused, options);
        break;
    }
    if (!link)
        return ConsoleResult::Refused(AddNetFailed, BindFailureReason(check.LocalPort, whyRefused));
    Tell([port, link](ConsoleObserver& observer) { observer.LinkAdded(port, link); });
    SavePortSettings(port);
    ConsoleResult done;
    done.Port = port;
    done.Link = link;
    return done;
}

ConsoleResult ConsoleModel::RemoveNet(CPortObject* port, CNetObject* link)
{
    if (!Owns(port, link))
        return ConsoleResult::Refused({});
    port->RemoveLink(link);
    Tell([port, link](ConsoleObserver& observer) { observer.LinkRemoved(port, link); });
    SavePortSettings(port);
    return ConsoleResult::Done();
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
    return ConsoleResult::Refused(message, "A whole number of milliseconds is needed.");
}

template <class Change>
ConsoleResult ConsoleModel::ChangePort(CPortObject* port, CNetObject* link, ConsoleObserver::Option option,
                                       Change&& change)
{
    if (link ? !Owns(port, link) : !Owns(port))
        return ConsoleResult::Refused({});
    {
        // The pump reads the options on its passes.
        CGuard guard(PortManager->Lock());
        PortManager->Lock()->Touch(); // the pump goes by the new value from now on
        change();
        SavePortSettings(port);
    }
    Tell([&](ConsoleObserver& observer) { observer.OptionChanged(port, link, option); });
    return ConsoleResult::Done();
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

ConsoleResult ConsoleModel::SetLog(CPortObject* port, const std::string& filename, int32_t mode)
{
    return ChangePort(port, nullptr, ConsoleObserver::Option::Log, [&] {
        port->SetLogFile(filename.c_str());
        port->SetLogMode(mode != 0 ? 1 : 0);
    });
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
    return PortManager ? TakeStatus(*PortManager) : ConsoleStatus{};
}
