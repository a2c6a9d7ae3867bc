#include "platform/PortDriver.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "platform/Folders.h"
#include "platform/WaitSet.h"

// One present port. The master descriptor is owned here and closed on detach.
struct PortDriver::Device {
    int Number = 0;
    int Master = -1;
    std::string SlavePath;
    std::string Link;
    int Watch = -1;                      // inotify watch on the slave, or -1
    DriverHandle Handle = INVALID_DRIVER_HANDLE; // the console's handle, if open
    bool Held = false;                   // an application held the slave when last seen
    std::vector<uint8_t> Pending;        // accepted bytes the master has not taken yet
};

namespace {

void MakeRaw(int master)
{
    termios tio {};
    if (tcgetattr(master, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
}

// POLLHUP on the master means no application holds the slave.
bool SlaveHeld(int master)
{
    pollfd p {master, 0, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

} // namespace

PortDriver& PortDriver::Instance()
{
    static PortDriver driver;
    return driver;
}

PortDriver::PortDriver()
{
    InotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

PortDriver::~PortDriver()
{
    DetachAll();
    if (InotifyFd >= 0)
        close(InotifyFd);
}

bool PortDriver::AttachDevice(int number, const std::string& linkFolder)
{
    std::lock_guard<std::mutex> hold(Mutex);
    if (number <= 0)
        return false;
    if (Devices.count(number))
        return true;

    auto device = std::make_unique<Device>();
    device->Number = number;
    device->Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device->Master < 0)
        return false;
    char name[PATH_MAX];
    if (grantpt(device->Master) != 0 || unlockpt(device->Master) != 0
        || ptsname_r(device->Master, name, sizeof name) != 0) {
        close(device->Master);
        return false;
    }
    device->SlavePath = name;
    MakeRaw(device->Master);
    // One open and close of the slave: from then on POLLHUP on the master says
    // exactly whether an application holds it.
    int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0)
        close(slave);

    if (!MakeFolders(linkFolder)) {
        close(device->Master);
        return false;
    }
    device->Link = linkFolder + "/COM" + std::to_string(number);
    unlink(device->Link.c_str()); // a stale link left by a console that crashed
    if (symlink(name, device->Link.c_str()) != 0) {
        close(device->Master);
        return false;
    }
    if (InotifyFd >= 0) {
        device->Watch = inotify_add_watch(InotifyFd, name, IN_OPEN);
    }
    Devices[number] = std::move(device);
    return true;
}

void PortDriver::DetachLocked(int number)
{
    auto it = Devices.find(number);
    if (it == Devices.end())
        return;
    Device& device = *it->second;
    if (device.Handle != INVALID_DRIVER_HANDLE)
        Handles.erase(device.Handle);
    if (device.Watch >= 0 && InotifyFd >= 0)
        inotify_rm_watch(InotifyFd, device.Watch);
    close(device.Master);
    // Only our own link goes: another console may have put its own in its place.
    char target[PATH_MAX];
    ssize_t n = readlink(device.Link.c_str(), target, sizeof target - 1);
    if (n > 0 && device.SlavePath == std::string(target, static_cast<size_t>(n)))
        unlink(device.Link.c_str());
    Devices.erase(it);
}

void PortDriver::DetachDevice(int number)
{
    std::lock_guard<std::mutex> hold(Mutex);
    DetachLocked(number);
}

void PortDriver::DetachAll()
{
    std::lock_guard<std::mutex> hold(Mutex);
    while (!Devices.empty())
        DetachLocked(Devices.begin()->first);
}

bool PortDriver::IsAttached(int number) const
{
    std::lock_guard<std::mutex> hold(Mutex);
    return Devices.count(number) != 0;
}

std::string PortDriver::LinkPath(int number) const
{
    std::lock_guard<std::mutex> hold(Mutex);
    auto it = Devices.find(number);
    return it == Devices.end() ? std::string() : it->second->Link;
}

DriverHandle PortDriver::Open(int number)
{
    std::lock_guard<std::mutex> hold(Mutex);
    auto it = Devices.find(number);
    if (it == Devices.end() || it->second->Handle != INVALID_DRIVER_HANDLE)
        return INVALID_DRIVER_HANDLE;
    DriverHandle handle = NextHandle++;
    if (NextHandle == INT_MAX)
        NextHandle = 1;
    it->second->Handle = handle;
    Handles[handle] = number;
    return handle;
}

void PortDriver::Close(DriverHandle handle)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device)
        return;
    device->Handle = INVALID_DRIVER_HANDLE;
    Handles.erase(handle);
}

PortDriver::Device* PortDriver::FindByHandle(DriverHandle handle)
{
    auto h = Handles.find(handle);
    if (h == Handles.end())
        return nullptr;
    auto d = Devices.find(h->second);
    return d == Devices.end() ? nullptr : d->second.get();
}

// Notices an application taking or letting go of the port. When the last one lets
// go, the line is made raw again, so the next application never inherits an echo
// that would loop its bytes back to the network.
void PortDriver::Refresh(Device& device)
{
    bool held = SlaveHeld(device.Master);
    if (device.Held && !held)
        MakeRaw(device.Master);
    device.Held = held;
}

void PortDriver::Flush(Device& device)
{
    if (!device.Held)
        return;
    size_t done = 0;
    while (done < device.Pending.size()) {
        ssize_t n = write(device.Master, device.Pending.data() + done, device.Pending.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    device.Pending.erase(device.Pending.begin(), device.Pending.begin() + static_cast<std::ptrdiff_t>(done));
}

bool PortDriver::Read(DriverHandle handle, uint8_t* buffer, uint32_t capacity, uint32_t* count)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device || !buffer || !count)
        return false;
    *count = 0;
    if (capacity == 0)
        return true;
    ssize_t n = read(device->Master, buffer, capacity);
    if (n > 0) {
        *count = static_cast<uint32_t>(n);
        device->Held = true;
    } else if (n < 0 && errno == EIO) {
        // EIO on the master means no application holds the port; it is not an error.
        Refresh(*device);
    }
    return true;
}

bool PortDriver::Write(DriverHandle handle, const uint8_t* data, uint32_t length)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device || (!data && length))
        return false;
    if (!device->Held || length > BufferSize - device->Pending.size())
        return false;
    device->Pending.insert(device->Pending.end(), data, data + length);
    Flush(*device);
    return true;
}

bool PortDriver::QueryStatus(DriverHandle handle, PortStatus* status)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device || !status)
        return false;
    Refresh(*device);
    Flush(*device);
    status->OpenCount = device->Held ? 2 : 1;
    // No application, no room: bytes for it wait in the console until one opens the port.
    status->FreeSpace = device->Held ? static_cast<uint32_t>(BufferSize - device->Pending.size()) : 0;
    return true;
}

void PortDriver::ForgetOpenEvents()
{
    std::lock_guard<std::mutex> hold(Mutex);
    if (InotifyFd < 0)
        return;
    char events[4096];
    while (read(InotifyFd, events, sizeof events) > 0) {
    }
}

void PortDriver::CollectWaits(DriverHandle handle, bool wantRead, bool wantWrite, WaitSet& waits)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device)
        return;
    Refresh(*device);
    Flush(*device);
    if (!device->Held) {
        if (InotifyFd >= 0 && device->Watch >= 0)
            waits.Add(InotifyFd, POLLIN);
        else
            waits.MustPoll = true;
        return;
    }
    short events = 0;
    if (wantRead)
        events |= POLLIN;
    if (!device->Pending.empty())
        events |= POLLOUT;
    else if (wantWrite)
        waits.Deadline(0, true);
    // Even with no events asked, POLLHUP tells when the application lets go.
    waits.Add(device->Master, events, true);
}
