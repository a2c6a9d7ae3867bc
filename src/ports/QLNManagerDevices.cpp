// The port manager's device side: finding the installed ports at start, installing a
// new port device and removing one. All of it runs on the window thread, on a device
// store of the state folder (DeviceStore.h).
#include "ports/QLNManager.h"

#include "net/ReadinessWait.h"
#include "platform/base/Text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "platform/base/EventLog.h"
#include "platform/config/AtomicFile.h"
#include "platform/devices/DeviceStore.h"
#include "platform/base/Folders.h"
#include "ports/DeviceMessage.h"

namespace {

constexpr char HardwareId[] = "QUILLON";
constexpr char ServiceName[] = "QUILLON";
constexpr char Caption[] = "Quillon Console";

// An "InfPath" that names a file in the inf folder and nothing else: the removal of
// the last port deletes it and its twin, so a damaged record must not be able to
// point anywhere else.
bool IsInstalledInfName(const std::string& name)
{
    if (name.size() <= 4 || name.find('/') != std::string::npos)
        return false;
    return EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".inf");
}

// An image path inside the state folder: relative, without "." or ".." steps.
bool IsInsideStateFolder(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return false;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        std::string step = path.substr(pos, slash - pos);
        if (step.empty() || step == "." || step == "..")
            return false;
        pos = slash + 1;
    }
    return true;
}

} // namespace

int CQLNManager::Start()
{
    // The state folder is the user's own business; a crash may have left temporary
    // files of an interrupted record write in it.
    const std::string state = StateFolder();
    TightenFolders(state);
    RemoveStaleTemporaryFiles(state, 1);
    // A port add or removal that a crash cut short left a record or a claim half
    // done: the ports listed are then exactly those whose records are whole.
    for (const std::string& repair : DeviceStore(state).RepairAfterCrash(HardwareId))
        SayEvent(EventLevel::Warning, "store", repair);
    if (!EnumeratePorts())
        return 0;
    return StartRest();
}

// Runs before the pump thread exists: no lock is needed for the list.
int CQLNManager::EnumeratePorts()
{
    DestroyPorts();
    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    if (!set)
        return 0;
    DeviceInfo device;
    int number = 0;
    std::map<int, std::string> firstDevice; // number → the device that is served with it
    for (int index = FindPortDevice(store, set.get(), 0, &number, &device); index >= 0;
         index = FindPortDevice(store, set.get(), index + 1, &number, &device)) {
        Ports->push_back(std::make_unique<CPortObject>(number, ManagerLock.get(), Resolver.get()));
        auto first = firstDevice.emplace(number, device.InstanceId);
        if (!first.second)
            Ports->back()->SetUnavailableReason("COM" + std::to_string(number)
                                                + " is also claimed by device " + first.first->second);
        number = 0;
    }
    set.reset();
    OpenAllPorts();
    return 1;
}

std::vector<int32_t> CQLNManager::InstalledPortNumbers()
{
    std::vector<int32_t> numbers;
    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    DeviceInfo device;
    int number = 0;
    for (int index = FindPortDevice(store, set.get(), 0, &number, &device); index >= 0;
         index = FindPortDevice(store, set.get(), index + 1, &number, &device)) {
        numbers.push_back(number);
        number = 0;
    }
    return numbers;
}

int CQLNManager::FindPortDevice(DeviceStore& store, DeviceInfoSet* set, int start, int* number,
                                DeviceInfo* device)
{
    if (!number || !device || !set)
        return -1;
    std::vector<uint8_t> buffer(128);
    for (int index = start; store.EnumDeviceInfo(*set, index, device); ++index) {
        uint32_t required = 0;
        StoreResult read = store.GetDeviceProperty(*set, *device, DeviceProperty::HardwareId,
                                                   buffer.data(), static_cast<uint32_t>(buffer.size()),
                                                   &required);
        if (read == StoreResult::InsufficientBuffer) {
            buffer.assign(required, 0);
            read = store.GetDeviceProperty(*set, *device, DeviceProperty::HardwareId, buffer.data(),
                                           static_cast<uint32_t>(buffer.size()), &required);
        }
        if (read != StoreResult::Success)
            continue;
        // The first string of the list, byte for byte.
        const char* first = reinterpret_cast<const char*>(buffer.data());
        size_t length = strnlen(first, std::min<size_t>(required, buffer.size()));
        if (std::string(first, length) != HardwareId)
            continue;

        std::unique_ptr<DeviceKey> key =
            store.OpenDeviceKey(*set, *device, DeviceKeyKind::Hardware, KeyAccess::Read);
        if (!key)
            continue;
        char portName[128];
        uint32_t size = sizeof portName;
        if (key->QueryValue("PortName", portName, &size) == StoreResult::Success) {
            int found = PortNumberOf(portName);
            if (found != 0 && (*number == 0 || *number == found)) {
                *number = found;
                return index;
            }
        }
    }
    return -1;
}

CPortObject* CQLNManager::AddPort(int number)
{
    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.CreateDeviceInfoList(PortsClassGuid);
    if (!set)
        return nullptr;

    // Until the device is registered it lives only in the set: a failure here leaves
    // nothing to roll back.
    static const uint8_t hardwareIds[] = "QUILLON\0"; // the id, its NUL and the list's NUL
    CPortObject* port = nullptr;
    DeviceInfo device;
    if (store.CreateDeviceInfo(*set, "Ports", PortsClassGuid, "Quillon", &device)
        && store.SetDeviceProperty(*set, device, DeviceProperty::HardwareId, hardwareIds,
                                   sizeof hardwareIds)
        && store.RegisterDevice(*set, device))
        port = InstallDevice(store, *set, device, number);

    set.reset();
    OpenAllPorts();
    return port;
}

// The driver is installed with every port's handle closed, without the lock: the
// pump keeps running and moves no data meanwhile.
CPortObject* CQLNManager::InstallDevice(DeviceStore& store, DeviceInfoSet& set,
                                        const DeviceInfo& device, int number)
{
    std::unique_ptr<ComPortDatabase> database;
    std::unique_ptr<DeviceKey> key;
    int claimed = 0; // the number claimed for this port that the rollback gives back
    auto rollback = [&]() -> CPortObject* {
        if (database) {
            if (claimed)
                database->ReleasePort(claimed);
            database.reset();
        }
        key.reset();
        store.RemoveDevice(set, device);
        return nullptr;
    };

    CloseAllPorts();
    bool reboot = false;
    if (!store.UpdateDriverForPlugAndPlayDevices(HardwareId, InfPath, true, &reboot))
        return rollback();
    if (reboot)
        ShowDeviceMessage(Window, "Require reboot!", Caption);

    key = store.OpenDeviceKey(set, device, DeviceKeyKind::Hardware, KeyAccess::All);
    if (!key)
        return rollback();
    char portName[128];
    uint32_t size = sizeof portName;
    if (key->QueryValue("PortName", portName, &size) != StoreResult::Success)
        return rollback();
    const int assigned = PortNumberOf(portName);
    if (assigned == 0)
        return rollback();

    if (number == 0)
        number = assigned;
    {
        // Two ports of one number can never both be served: a number one of this
        // console's own ports has is refused, forced or not.
        CGuard guard(ManagerLock.get());
        for (const auto& existing : *Ports) {
            if (existing->GetPortNumber() == number)
                return rollback();
        }
    }
    if (number != assigned) {
        if (!store.ChangeState(set, device, DeviceStateChange::Disable))
            return rollback();
        database = store.OpenComDatabase();
        if (!database)
            return rollback();
        // A number that was in use already (the user chose to force it) is not this
        // port's to give back: the rollback releases only a number it took free.
        const bool wasInUse = database->IsInUse(number);
        if (!database->ClaimPort(number, true))
            return rollback();
        claimed = wasInUse ? 0 : number;
        if (!database->ReleasePort(assigned))
            return rollback();

        char text[64];
        int length = snprintf(text, sizeof text, "Quillon (COM%d)", number);
        if (!store.SetDeviceProperty(set, device, DeviceProperty::FriendlyName,
                                     reinterpret_cast<const uint8_t*>(text),
                                     static_cast<uint32_t>(length + 1)))
            return rollback();
        length = snprintf(text, sizeof text, "COM%d", number);
        if (!key->SetValue("PortName", text, static_cast<uint32_t>(length + 1)))
            return rollback();
        if (!store.ChangeState(set, device, DeviceStateChange::Enable))
            return rollback();
    }

    std::unique_ptr<CPortObject> port(new (std::nothrow) CPortObject(number, ManagerLock.get(), Resolver.get()));
    if (!port)
        return rollback();
    CPortObject* added = port.get();
    {
        CGuard guard(ManagerLock.get());
        Ports->push_back(std::move(port));
    }
    database.reset();
    key.reset();
    return added;
}

// Results: 1 removed; -1 an application holds the port; 0 for everything else. That
// includes the two cases the device layer leaves open, both with the port kept in
// the list (so the window must keep it too, which it does on 0):
//  - no present device carries the port's number (its record was deleted or damaged
//    behind the console's back): nothing was removed, so this is a failure;
//  - the store refused to remove the device: the port is opened again, so that a port
//    the window still shows goes on carrying data.
int CQLNManager::RemovePort(CPortObject* port)
{
    if (!port)
        return 0;
    CGuard guard(ManagerLock.get());
    ManagerLock->Touch();
    auto it = std::find_if(Ports->begin(), Ports->end(),
                           [port](const std::unique_ptr<CPortObject>& p) { return p.get() == port; });
    if (it == Ports->end())
        return 0;
    if (IsOpenedByApplication(port))
        return -1;

    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    if (!set)
        return 0;

    int result = 0;
    std::string infFile;
    std::string imageFile;
    int number = port->GetPortNumber();
    DeviceInfo device;
    if (FindPortDevice(store, set.get(), 0, &number, &device) >= 0) {
        if (Ports->size() == 1) {
            // The last port: note the package's installed files before the device goes.
            const std::string windows = store.WindowsDirectory();
            std::string infName;
            ReadInfName(store, *set, device, infName);
            if (!infName.empty())
                infFile = windows + "/inf/" + infName;
            std::string image;
            ReadDriverImagePath(store, image);
            if (!image.empty())
                imageFile = windows + "/" + image;
        }
        // Out of the pump's wait while its master is still open; a port kept after a
        // refused removal is watched again at the pump's next step.
        port->StopWaiting();
        port->CloseDriver();
        if (store.RemoveDevice(*set, device)) {
            Ports->erase(it);
            result = 1;
        } else {
            port->OpenDriver();
        }
    }
    set.reset();

    if (Ports->empty()) {
        if (!infFile.empty()) {
            store.DeleteFile(infFile);
            std::string twin = infFile;
            twin[twin.size() - 3] = 'p';
            store.DeleteFile(twin);
        }
        if (!imageFile.empty())
            store.DeleteFile(imageFile);
    }
    // A port held back by the removed one (a second device of its number) may now
    // be served.
    if (result == 1)
        OpenAllPorts();
    return result;
}

void CQLNManager::ReadInfName(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device,
                              std::string& name)
{
    name.clear();
    std::unique_ptr<DeviceKey> key =
        store.OpenDeviceKey(set, device, DeviceKeyKind::Driver, KeyAccess::All);
    if (!key)
        return;
    char buffer[260];
    uint32_t size = sizeof buffer;
    if (key->QueryValue("InfPath", buffer, &size) == StoreResult::Success
        && IsInstalledInfName(buffer))
        name = buffer;
}

void CQLNManager::ReadDriverImagePath(DeviceStore& store, std::string& path)
{
    uint32_t required = 0;
    if (store.QueryServiceImagePath(ServiceName, nullptr, 0, &required)
        != StoreResult::InsufficientBuffer)
        return;
    std::vector<char> buffer(required);
    if (store.QueryServiceImagePath(ServiceName, buffer.data(), required, &required)
        != StoreResult::Success)
        return;
    std::string image(buffer.data());
    if (IsInsideStateFolder(image))
        path = image;
}
