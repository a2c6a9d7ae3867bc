#include "ports/DeviceInstaller.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "platform/base/Text.h"
#include "platform/config/AtomicFile.h"
#include "platform/devices/DeviceStore.h"
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

Failure StoreUnreadable()
{
    return Failure::Said("The device store cannot be read.");
}

} // namespace

DeviceInstaller::DeviceInstaller(WindowHandle window, std::string infPath)
    : Window(window), InfPath(std::move(infPath))
{
}

void DeviceInstaller::RepairStore()
{
    // The state folder is the user's own business; a crash may have left temporary
    // files of an interrupted record write in it.
    const std::string state = StateFolder();
    TightenFolders(state);
    RemoveStaleTemporaryFiles(state, 1);
    // A port add or removal that a crash cut short left a record or a claim half
    // done: the ports found are then exactly those whose records are whole.
    for (const std::string& repair : DeviceStore(state).RepairAfterCrash(HardwareId))
        SayEvent(EventLevel::Warning, "store", repair);
}

Failure DeviceInstaller::FindAll(std::vector<Found>& found)
{
    found.clear();
    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    if (!set)
        return StoreUnreadable();
    DeviceInfo device;
    int number = 0;
    for (std::optional<int> index = FindDevice(store, *set, 0, number, device); index;
         index = FindDevice(store, *set, *index + 1, number, device)) {
        found.push_back({number, device.InstanceId});
        number = 0;
    }
    return {};
}

std::optional<int> DeviceInstaller::FindDevice(DeviceStore& store, DeviceInfoSet& set, int start, int& number,
                                               DeviceInfo& device)
{
    std::vector<uint8_t> buffer(128);
    for (int index = start; store.EnumDeviceInfo(set, index, &device); ++index) {
        uint32_t required = 0;
        StoreResult read = store.GetDeviceProperty(set, device, DeviceProperty::HardwareId, buffer.data(),
                                                   static_cast<uint32_t>(buffer.size()), &required);
        if (read == StoreResult::InsufficientBuffer) {
            buffer.assign(required, 0);
            read = store.GetDeviceProperty(set, device, DeviceProperty::HardwareId, buffer.data(),
                                           static_cast<uint32_t>(buffer.size()), &required);
        }
        if (read != StoreResult::Success)
            continue;
        // The first string of the list, byte for byte.
        const char* first = reinterpret_cast<const char*>(buffer.data());
        size_t length = strnlen(first, std::min<size_t>(required, buffer.size()));
        if (std::string(first, length) != HardwareId)
            continue;

        std::unique_ptr<DeviceKey> key = store.OpenDeviceKey(set, device, DeviceKeyKind::Hardware, KeyAccess::Read);
        if (!key)
            continue;
        char portName[128];
        uint32_t size = sizeof portName;
        if (key->QueryValue("PortName", portName, &size) == StoreResult::Success) {
            int found = PortNumberOf(portName);
            if (found != 0 && (number == 0 || number == found)) {
                number = found;
                return index;
            }
        }
    }
    return std::nullopt;
}

Failure DeviceInstaller::Install(int number, const InstallSteps& steps, int& installed)
{
    installed = 0;
    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.CreateDeviceInfoList(PortsClassGuid);
    if (!set)
        return StoreUnreadable();

    // Until the device is registered it lives only in the set: a failure here leaves
    // nothing to roll back.
    static const uint8_t hardwareIds[] = "QUILLON\0"; // the id, its NUL and the list's NUL
    DeviceInfo device;
    if (!store.CreateDeviceInfo(*set, "Ports", PortsClassGuid, "Quillon", &device)
        || !store.SetDeviceProperty(*set, device, DeviceProperty::HardwareId, hardwareIds, sizeof hardwareIds)
        || !store.RegisterDevice(*set, device))
        return Failure::Said("The port's device cannot be registered.");
    return InstallRegistered(store, *set, device, number, steps, installed);
}

// The driver is installed with every port's device let go (ReleaseAll), without the
// manager's lock: the pump keeps running and moves no data meanwhile.
Failure DeviceInstaller::InstallRegistered(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device,
                                           int number, const InstallSteps& steps, int& installed)
{
    std::unique_ptr<ComPortDatabase> database;
    std::unique_ptr<DeviceKey> key;
    int claimed = 0; // the number claimed for this port that the rollback gives back
    auto rollback = [&](const char* words) {
        if (database) {
            if (claimed)
                database->ReleasePort(claimed);
            database.reset();
        }
        key.reset();
        store.RemoveDevice(set, device);
        return Failure::Said(words);
    };

    steps.ReleaseAll();
    bool reboot = false;
    if (!store.UpdateDriverForPlugAndPlayDevices(HardwareId, InfPath, true, &reboot))
        return rollback("The port's driver cannot be installed.");
    if (reboot)
        ShowDeviceMessage(Window, "Require reboot!", Caption);

    key = store.OpenDeviceKey(set, device, DeviceKeyKind::Hardware, KeyAccess::All);
    char portName[128];
    uint32_t size = sizeof portName;
    if (!key || key->QueryValue("PortName", portName, &size) != StoreResult::Success)
        return rollback("The port's device has no port name.");
    const int assigned = PortNumberOf(portName);
    if (assigned == 0)
        return rollback("The port's device has no port name.");

    if (number == 0)
        number = assigned;
    // Two ports of one number can never both be served: a number one of this
    // console's own ports has is refused, forced or not.
    if (steps.Taken(number))
        return rollback("The console has a port of that number already.");
    if (number != assigned) {
        if (!store.ChangeState(set, device, DeviceStateChange::Disable))
            return rollback("The port's device cannot be disabled.");
        database = store.OpenComDatabase();
        if (!database)
            return rollback("The port numbers' database cannot be opened.");
        // A number that was in use already (the user chose to force it) is not this
        // port's to give back: the rollback releases only a number it took free.
        const bool wasInUse = database->IsInUse(number);
        if (!database->ClaimPort(number, true))
            return rollback("The port number cannot be claimed.");
        claimed = wasInUse ? 0 : number;
        if (!database->ReleasePort(assigned))
            return rollback("The assigned port number cannot be given back.");

        char text[64];
        int length = snprintf(text, sizeof text, "Quillon (COM%d)", number);
        if (!store.SetDeviceProperty(set, device, DeviceProperty::FriendlyName,
                                     reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(length + 1)))
            return rollback("The port's device cannot be renamed.");
        length = snprintf(text, sizeof text, "COM%d", number);
        if (!key->SetValue("PortName", text, static_cast<uint32_t>(length + 1)))
            return rollback("The port's device cannot be renamed.");
        if (!store.ChangeState(set, device, DeviceStateChange::Enable))
            return rollback("The port's device cannot be enabled.");
    }

    if (!steps.Adopt(number))
        return rollback("The port cannot be made.");
    installed = number;
    return {};
}

// No present device with the port's number (its record was deleted or damaged
// behind the console's back) means nothing was removed: a failure. So is a store
// that refused the removal; the device is then taken back (Restore), so that a port
// the window still shows goes on carrying data.
Failure DeviceInstaller::Remove(int number, bool last, const RemoveSteps& steps)
{
    DeviceStore store(StateFolder());
    std::unique_ptr<DeviceInfoSet> set = store.GetPresentDevices(PortsClassGuid, RootEnumerator);
    if (!set)
        return StoreUnreadable();

    DeviceInfo device;
    if (!FindDevice(store, *set, 0, number, device))
        return Failure::Said("No device carries the port's number.");
    std::string infFile;
    std::string imageFile;
    if (last) {
        // The last port: note the package's installed files before the device goes.
        const std::string windows = store.WindowsDirectory();
        if (const std::string infName = InfNameOf(store, *set, device); !infName.empty())
            infFile = windows + "/inf/" + infName;
        if (const std::string image = DriverImagePath(store); !image.empty())
            imageFile = windows + "/" + image;
    }
    steps.Release();
    if (!store.RemoveDevice(*set, device)) {
        steps.Restore();
        return Failure::Said("The device store refused to remove the port's device.");
    }
    set.reset();

    if (!infFile.empty()) {
        store.DeleteFile(infFile);
        std::string twin = infFile;
        twin[twin.size() - 3] = 'p';
        store.DeleteFile(twin);
    }
    if (!imageFile.empty())
        store.DeleteFile(imageFile);
    return {};
}

std::string DeviceInstaller::InfNameOf(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device)
{
    std::unique_ptr<DeviceKey> key = store.OpenDeviceKey(set, device, DeviceKeyKind::Driver, KeyAccess::All);
    if (!key)
        return {};
    char buffer[260];
    uint32_t size = sizeof buffer;
    if (key->QueryValue("InfPath", buffer, &size) == StoreResult::Success && IsInstalledInfName(buffer))
        return buffer;
    return {};
}

std::string DeviceInstaller::DriverImagePath(DeviceStore& store)
{
    uint32_t required = 0;
    if (store.QueryServiceImagePath(ServiceName, nullptr, 0, &required) != StoreResult::InsufficientBuffer)
        return {};
    std::vector<char> buffer(required);
    if (store.QueryServiceImagePath(ServiceName, buffer.data(), required, &required) != StoreResult::Success)
        return {};
    std::string image(buffer.data());
    return IsInsideStateFolder(image) ? image : std::string();
}
