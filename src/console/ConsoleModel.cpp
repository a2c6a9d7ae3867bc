// The console model's start, stop, observers and figures. The commands on ports,
// links and options are ConsolePorts, ConsoleLinks and ConsolePortOptions, what the
// window shows of them ConsoleView; the reload is in ConsoleReload.cpp, the configuration file and the
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
