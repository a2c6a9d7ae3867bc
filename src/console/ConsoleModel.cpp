// The console model's start, stop, observers, and what it shows of ports and links.
// The commands on ports, links and options are ConsolePorts, ConsoleLinks and
// ConsolePortOptions; the reload is in ConsoleReload.cpp, the configuration file and the
// autostart entry in ConsoleSettings.cpp.
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
    Failure failed = Failure::Said("No port manager.");
    if (PortManager)
        failed = start ? start(*PortManager) : PortManager->Start();
    if (failed)
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
    settings.RemoteAddr = link->Settings().RemoteAddr;
    settings.AutoReconnect = link->Settings().AutoReconnect;
    settings.ReconnectIntervalTime = link->Settings().ReconnectIntervalTime;
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
