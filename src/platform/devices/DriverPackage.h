#pragma once
#include <string>

// The driver package "Quillon.inf" as the device store installs it: the text, and
// what the store needs from it (the service to record and the driver file to put in
// place). What makes a package valid is written at the top of Quillon.inf itself.
// Plain data; no thread rules of its own.
struct DriverPackage {
    std::string Text;        // the file exactly as read; installed as inf/oem<k>.inf
    std::string ServiceName; // from AddService, e.g. "QUILLON"
    std::string DriverFile;  // a plain file name, e.g. "quillon.sys"
    std::string DeviceDescription; // of the model that names the hardware id

    // Where the driver file goes, relative to the state folder; also the service's
    // image path.
    std::string ImagePath() const { return "drivers/" + DriverFile; }

    // Reads the package at `infPath` and checks it for `hardwareId` (compared without
    // regard to case). False when the file is missing or unreadable, is not a valid
    // package, or does not install that hardware id; `package` is replaced only on
    // success.
    static bool Load(const std::string& infPath, const std::string& hardwareId,
                     DriverPackage& package);
};
