// The port manager's device side: the ports it serves follow the devices the
// installer finds, installs and removes. All of it runs on the window thread.
#include "ports/QLNManager.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <new>

#include "ports/DeviceInstaller.h"

Failure CQLNManager::Start()
{
    DeviceInstaller::RepairStore();
    if (Failure failed = EnumeratePorts())
        return failed;
    return StartRest();
}

// Runs before the pump thread exists: no lock is needed for the list.
Failure CQLNManager::EnumeratePorts()
{
    DestroyPorts();
    std::vector<DeviceInstaller::Found> found;
    if (Failure failed = DeviceInstaller::FindAll(found))
        return failed;
    std::map<int, std::string> firstDevice; // number → the device that is served with it
    for (const DeviceInstaller::Found& device : found) {
        Ports->push_back(std::make_unique<CPortObject>(device.Number, ManagerLock.get(), Resolver.get()));
        auto first = firstDevice.emplace(device.Number, device.InstanceId);
        if (!first.second)
            Ports->back()->SetUnavailableReason("COM" + std::to_string(device.Number)
                                                + " is also claimed by device " + first.first->second);
    }
    OpenAllPorts();
    return {};
}

std::vector<int32_t> CQLNManager::InstalledPortNumbers()
{
    std::vector<DeviceInstaller::Found> found;
    DeviceInstaller::FindAll(found); // an unreadable store has no ports
    std::vector<int32_t> numbers;
    for (const DeviceInstaller::Found& device : found)
        numbers.push_back(device.Number);
    return numbers;
}

CPortObject* CQLNManager::AddPort(int number)
{
    CPortObject* added = nullptr;
    DeviceInstaller::InstallSteps steps;
    steps.ReleaseAll = [this] { CloseAllPorts(); };
    steps.Taken = [this](int wanted) {
        CGuard guard(ManagerLock.get());
        return std::any_of(Ports->begin(), Ports->end(), [wanted](const std::unique_ptr<CPortObject>& port) {
            return port->GetPortNumber() == wanted;
        });
    };
    steps.Adopt = [this, &added](int installed) {
        std::unique_ptr<CPortObject> port(new (std::nothrow) CPortObject(installed, ManagerLock.get(), Resolver.get()));
        if (!port)
            return false;
        added = port.get();
        CGuard guard(ManagerLock.get());
        Ports->push_back(std::move(port));
        return true;
    };
    int installed = 0;
    Installer->Install(number, steps, installed);
    OpenAllPorts();
    return added;
}

// Kept in the list on a failure (so the window must keep it too): the installer
// gives the device back to the port when the store refused its removal.
Failure CQLNManager::RemovePort(CPortObject* port)
{
    if (!port)
        return Failure::Said("No such port.");
    CGuard guard(ManagerLock.get());
    ManagerLock->Touch();
    auto it = std::find_if(Ports->begin(), Ports->end(),
                           [port](const std::unique_ptr<CPortObject>& p) { return p.get() == port; });
    if (it == Ports->end())
        return Failure::Said("No such port.");
    if (IsOpenedByApplication(port)) {
        Failure held = Failure::Said("An application holds the port open.");
        held.Errno = EBUSY;
        return held;
    }

    DeviceInstaller::RemoveSteps steps;
    // Out of the pump's wait while its master is still open; a port kept after a
    // refused removal is watched again at the pump's next step.
    steps.Release = [port] {
        port->StopWaiting();
        port->CloseDriver();
    };
    steps.Restore = [port] { port->OpenDriver(); };
    if (Failure failed = Installer->Remove(port->GetPortNumber(), Ports->size() == 1, steps))
        return failed;
    Ports->erase(it);
    // A port held back by the removed one (a second device of its number) may now
    // be served.
    OpenAllPorts();
    return {};
}
