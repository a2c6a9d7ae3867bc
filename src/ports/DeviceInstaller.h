#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Failure.h"

class DeviceStore;
class DeviceInfoSet;
struct DeviceInfo;

// Window handle of the stand-in toolkit: the owner of messages the device code shows.
using WindowHandle = void*;

// The device side of the ports: finding the installed "QUILLON" port devices,
// installing a new one and removing one, on a device store of the state folder of
// the moment (StateFolder()). It knows nothing of the ports the console serves; what
// it must ask of them comes in through the steps of each call. Window thread.
class DeviceInstaller {
public:
    // A port device found in the store: its number and the device that carries it.
    struct Found {
        int Number = 0;
        std::string InstanceId;
    };

    // What an installation asks of the console on its way.
    struct InstallSteps {
        // Before the driver is installed: every port's device is let go.
        std::function<void()> ReleaseAll;
        // Whether the console has a port of this number already (refused).
        std::function<bool(int number)> Taken;
        // The device is complete: the console takes the port on. False rolls back.
        std::function<bool(int number)> Adopt;
    };

    // What a removal asks of the console: let the device go before the store removes
    // it, and take it back when the store refused.
    struct RemoveSteps {
        std::function<void()> Release;
        std::function<void()> Restore;
    };

    DeviceInstaller(WindowHandle window, std::string infPath);

    // Tightens the state folder and repairs what a crash left half done; each repair
    // is said in the event log.
    static void RepairStore();
    // The installed port devices in store order; a failure when the store cannot be read.
    static Failure FindAll(std::vector<Found>& found);
    // Installs a port device of `number` (0: the number the store assigns); the
    // number installed, or the failure with everything rolled back.
    Failure Install(int number, const InstallSteps& steps, int& installed);
    // Removes the device of port `number`; `last`: the console's last port, whose
    // removal also deletes the driver package's installed files.
    Failure Remove(int number, bool last, const RemoveSteps& steps);

private:
    // Searches `set` from `start` for a "QUILLON" device with a port number (`number`
    // 0: any, else that one); its index, with `number` and `device` filled.
    static std::optional<int> FindDevice(DeviceStore& store, DeviceInfoSet& set, int start, int& number,
                                         DeviceInfo& device);
    Failure InstallRegistered(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device, int number,
                              const InstallSteps& steps, int& installed);
    // The device's "InfPath" (a plain "*.inf" file name), or empty.
    static std::string InfNameOf(DeviceStore& store, DeviceInfoSet& set, const DeviceInfo& device);
    // The "QUILLON" service's image path (relative, inside the state folder), or empty.
    static std::string DriverImagePath(DeviceStore& store);

    WindowHandle Window;
    std::string InfPath;
};
