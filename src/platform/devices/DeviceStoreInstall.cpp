// The device store's class installer: installing the driver package, and the
// service record it leaves. Part of DeviceStore (DeviceStore.h).
#include "platform/devices/DeviceStore.h"
#include "platform/base/Text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/config/AtomicFile.h"
#include "platform/devices/DriverPackage.h"
#include "platform/base/Folders.h"

namespace {

// k of a name "oem<k>.inf", or -1.
long OemNumber(const std::string& name)
{
    if (name.size() < 8 || name.compare(0, 3, "oem") != 0
        || name.compare(name.size() - 4, 4, ".inf") != 0)
        return -1;
    std::string digits = name.substr(3, name.size() - 7);
    if (digits.empty() || digits.size() > 6
        || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    return std::stol(digits);
}

std::string FolderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

// Puts the package's files in place and returns the name of its installed copy.
bool DeviceStore::InstallPackageFiles(const DriverPackage& package, const std::string& infPath,
                                      std::string& infName)
{
    const std::string infFolder = StateFolder + "/inf";
    const std::string driversFolder = StateFolder + "/drivers";
    const std::string servicesFolder = StateFolder + "/services";
    if (!MakeFolders(infFolder, PrivateFolderMode) || !MakeFolders(driversFolder, PrivateFolderMode)
        || !MakeFolders(servicesFolder, PrivateFolderMode))
        return false;

    // An identical package installed before keeps its copy; otherwise the lowest k
    // that neither an .inf nor a .pnf uses.
    std::vector<long> taken;
    long reuse = -1;
    if (DIR* dir = opendir(infFolder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            std::string asInf = name;
            if (asInf.size() > 4 && asInf.compare(asInf.size() - 4, 4, ".pnf") == 0)
                asInf.replace(asInf.size() - 4, 4, ".inf");
            long k = OemNumber(asInf);
            if (k < 0)
                continue;
            taken.push_back(k);
            std::string text;
            if (reuse < 0 && name == asInf
                && ReadWholeFile(infFolder + "/" + name, text, 1 << 20) == FileReadResult::Ok
                && text == package.Text)
                reuse = k;
        }
        closedir(dir);
    } else {
        return false;
    }
    long k = reuse;
    if (k < 0) {
        k = 0;
        while (std::find(taken.begin(), taken.end(), k) != taken.end())
            ++k;
    }
    infName = "oem" + std::to_string(k) + ".inf";
    const std::string pnfName = "oem" + std::to_string(k) + ".pnf";

    // The driver file: the one beside the package when there is one, else a stand-in
    // (the driver itself runs inside the console).
    std::string driver;
    if (ReadWholeFile(FolderOf(infPath) + "/" + package.DriverFile, driver, 64 << 20)
        != FileReadResult::Ok)
        driver = "Quillon port driver: the console serves the ports itself; this file marks "
                 "the installed driver.\n";

    const std::string pnf = "; precompiled form of " + infName + "\nService=" + package.ServiceName
                            + "\nDriverFile=" + package.DriverFile + "\n";
    const std::string service = "[Service]\nName=" + package.ServiceName
                                + "\nImagePath=" + package.ImagePath() + "\n";
    return !ReplaceFileAtomically(infFolder + "/" + infName, package.Text).Failed()
           && !ReplaceFileAtomically(infFolder + "/" + pnfName, pnf).Failed()
           && !ReplaceFileAtomically(StateFolder + "/" + package.ImagePath(), driver).Failed()
           && !ReplaceFileAtomically(servicesFolder + "/" + package.ServiceName, service).Failed();
}

bool DeviceStore::UpdateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                                    const std::string& infPath, bool force,
                                                    bool* rebootRequired)
{
    if (rebootRequired)
        *rebootRequired = false;
    DriverPackage package;
    if (!DriverPackage::Load(infPath, hardwareId, package))
        return false;
    std::vector<DeviceRecord> records;
    if (!LoadAllRecords(records))
        return false;
    std::vector<DeviceRecord*> matches;
    for (auto& record : records) {
        if (std::any_of(record.HardwareIds.begin(), record.HardwareIds.end(),
                        [&](const std::string& id) { return EqualsIgnoringCase(id, hardwareId); }))
            matches.push_back(&record);
    }
    if (matches.empty())
        return false;

    std::string infName;
    if (!InstallPackageFiles(package, infPath, infName))
        return false;

    std::unique_ptr<ComPortDatabase> database = OpenComDatabase();
    bool ok = true;
    for (DeviceRecord* record : matches) {
        if (!force && record->HasDriverKey)
            continue;
        const DeviceRecord before = *record;
        DeviceRecord after = *record;
        after.HasDriverKey = true;
        after.DriverKey["InfPath"] = infName;
        after.Description = package.DeviceDescription;
        int claimed = 0;
        if (after.PortNumber() == 0 && database) {
            int number = database->LowestFree();
            if (number > 0 && database->ClaimPort(number, false)) {
                claimed = number;
                after.HardwareKey["PortName"] = "COM" + std::to_string(number);
                after.HasFriendlyName = true;
                after.FriendlyName = package.DeviceDescription + " (COM" + std::to_string(number) + ")";
            }
        }
        if (!SaveRecord(after)) {
            if (claimed)
                database->ReleasePort(claimed);
            ok = false;
            continue;
        }
        SyncDriver(&before, &after);
    }
    return ok;
}

StoreResult DeviceStore::QueryServiceImagePath(const std::string& name, char* buffer,
                                               uint32_t size, uint32_t* required)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
        || !IsStorableValue(name))
        return StoreResult::Failed;
    std::string text;
    if (ReadWholeFile(StateFolder + "/services/" + name, text, 64 * 1024) != FileReadResult::Ok)
        return StoreResult::Failed;
    std::string imagePath;
    bool found = false;
    ForEachLine(text, [&](std::string_view line) {
        if (!line.starts_with("ImagePath="))
            return true;
        imagePath = line.substr(10);
        found = true;
        return false;
    });
    if (!found)
        return StoreResult::Failed;
    uint32_t needed = static_cast<uint32_t>(imagePath.size() + 1);
    if (required)
        *required = needed;
    if (!buffer || size < needed)
        return StoreResult::InsufficientBuffer;
    memcpy(buffer, imagePath.c_str(), needed);
    return StoreResult::Success;
}
