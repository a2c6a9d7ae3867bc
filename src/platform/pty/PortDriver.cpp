#include "platform/pty/PortDriver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/base/EventLog.h"
#include "platform/base/Failure.h"
#include "platform/base/Folders.h"
#include "platform/pty/LineTermios.h"

// One present port. Its descriptors are owned here and closed with it.
struct PortDriver::Device {
    int Number = 0;
    UniqueFd Master;
    UniqueFd PathFd;                     // path-only descriptor of the slave, for the link
    std::string SlavePath;
    std::string Link;
    std::string LinkTarget;              // "/proc/<pid>/fd/<PathFd>"
    int Watch = -1;                      // inotify watch on the slave, or -1
    DriverHandle Handle = INVALID_DRIVER_HANDLE; // the console's handle, if open
    bool Held = false;                   // an application held the slave when last seen
    std::vector<uint8_t> Pending;        // accepted bytes the master has not taken yet
    bool LineReports = false;            // packet mode and EXTPROC are on
    LineEvent LineEvents = LineEvent::None; // not yet taken
    bool Opened = false;                 // the open notice named it, not yet taken
};

namespace {

// The links name descriptors from this number up. Programs seldom hold descriptors
// this high, so a process that happens to get the pid of a console that died would
// also need a descriptor of exactly that number for an old link to lead anywhere.
// The kernel sizes a process's descriptor table to its highest descriptor: this
// costs about half a MiB of kernel memory, once.
constexpr int HighDescriptorBase = 40000;
constexpr int HighDescriptorRoom = 1024; // more than the 256 ports

// Moves `fd` to a high number and returns the descriptor to use from then on: the
// high one, or `fd` itself where the open-file limit allows nothing higher.
int MoveHigh(int fd)
{
    int base = HighDescriptorBase;
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        const rlim_t wanted = HighDescriptorBase + HighDescriptorRoom;
        if (limit.rlim_cur < wanted && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = std::min(wanted, limit.rlim_max);
            setrlimit(RLIMIT_NOFILE, &limit);
            getrlimit(RLIMIT_NOFILE, &limit);
        }
        if (limit.rlim_cur < wanted) {
            // A low hard limit: the top of what it allows.
            const int top = static_cast<int>(limit.rlim_cur);
            base = top > 2 * HighDescriptorRoom ? top - HighDescriptorRoom : top / 2;
        }
    }
    const int high = base > fd ? fcntl(fd, F_DUPFD_CLOEXEC, base) : -1;
    if (high < 0)
        return fd;
    close(fd);
    return high;
}

// The failure of a system call, told in the words of what it was for; the errno stays.
Failure SystemError(const std::string& what)
{
    const int error = errno;
    Failure failure = Failure::Said(what + ": " + strerror(error));
    failure.Errno = error;
    return failure;
}

const char* KindOf(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (S_ISREG(st.st_mode))
        return "it is a file";
    return "it is a special file";
}

void MakeRaw(int master)
{
    termios tio {};
    if (tcgetattr(master, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
}

// EXTPROC on or off in the line's local modes, unless it already is.
void SetExtproc(int master, bool on)
{
    termios tio {};
    if (tcgetattr(master, &tio) != 0 || ((tio.c_lflag & EXTPROC) != 0) == on)
        return;
    tio.c_lflag = on ? tio.c_lflag | EXTPROC : tio.c_lflag & ~tcflag_t(EXTPROC);
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
    InotifyFd.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
}

PortDriver::~PortDriver()
{
    DetachAll();
}

Failure PortDriver::Refuse(int number, Failure why)
{
    Problems[number] = why;
    return why;
}

Failure PortDriver::AttachFailure(int number) const
{
    std::lock_guard<std::mutex> hold(Mutex);
    auto it = Problems.find(number);
    return it == Problems.end() ? Failure{} : it->second;
}

Failure PortDriver::AttachDevice(int number, const std::string& linkFolder)
{
    std::lock_guard<std::mutex> hold(Mutex);
    if (number <= 0)
        return Failure::Said("COM" + std::to_string(number) + " is no port number");
    if (Devices.count(number))
        return {};

    const std::string com = "COM" + std::to_string(number);
    auto device = std::make_unique<Device>();
    device->Number = number;
    device->Master.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    char name[PATH_MAX];
    const int master = device->Master.Get();
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0)
        return Refuse(number, SystemError("no pseudo-terminal for " + com));
    device->SlavePath = name;
    MakeRaw(master);
    // One open and close of the slave: from then on POLLHUP on the master says
    // exactly whether an application holds it. The system gives the slave a mode of
    // its own (often 0620, group tty, which lets that group write into the line and
    // so onto the network): only this user may open the port.
    int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool privateMode = slave >= 0 ? fchmod(slave, 0600) == 0 : chmod(name, 0600) == 0;
    if (slave >= 0)
        close(slave);
    if (!privateMode)
        return Refuse(number, SystemError("cannot make the pseudo-terminal of " + com + " private"));

    // A path-only descriptor is no open of the terminal: POLLHUP still tells whether
    // an application holds it.
    const int path = open(name, O_PATH | O_CLOEXEC);
    if (path < 0)
        return Refuse(number, SystemError("cannot hold the pseudo-terminal of " + com));
    device->PathFd.Reset(MoveHigh(path));
    device->LinkTarget = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(device->PathFd.Get());

    if (!MakeFolders(linkFolder, PrivateFolderMode))
        return Refuse(number, SystemError("cannot create the folder " + linkFolder));
    device->Link = linkFolder + "/" + com;
    struct stat st {};
    if (lstat(device->Link.c_str(), &st) == 0) {
        // A link is a stale one, left by a console that ended without taking it down;
        // anything else is not ours to delete.
        if (!S_ISLNK(st.st_mode))
            return Refuse(number, Failure::Said(device->Link + " exists and is not a link: " + KindOf(st)));
        unlink(device->Link.c_str());
    }
    if (symlink(device->LinkTarget.c_str(), device->Link.c_str()) != 0)
        return Refuse(number, SystemError("cannot make the link " + device->Link));
    if (InotifyFd.Valid()) {
        device->Watch = inotify_add_watch(InotifyFd.Get(), name, IN_OPEN);
    }
    Problems.erase(number);
    Devices[number] = std::move(device);
    return {};
}

void PortDriver::DetachLocked(int number)
{
    Problems.erase(number);
    auto it = Devices.find(number);
    if (it == Devices.end())
        return;
    Device& device = *it->second;
    if (device.Handle != INVALID_DRIVER_HANDLE)
        Handles.erase(device.Handle);
    if (device.Watch >= 0 && InotifyFd.Valid())
        inotify_rm_watch(InotifyFd.Get(), device.Watch);
    // Only our own link goes: another console may have put its own in its place.
    char target[PATH_MAX];
    ssize_t n = readlink(device.Link.c_str(), target, sizeof target - 1);
    if (n > 0 && device.LinkTarget == std::string(target, static_cast<size_t>(n)))
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
    Problems.clear();
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
    bool held = SlaveHeld(device.Master.Get());
    if (device.Held && !held)
        MakeRaw(device.Master.Get());
    device.Held = held;
}

void PortDriver::Flush(Device& device)
{
    if (!device.Held)
        return;
    size_t done = 0;
    while (done < device.Pending.size()) {
        const ssize_t n = write(device.Master.Get(), device.Pending.data() + done, device.Pending.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int error = n < 0 ? errno : 0;
        if (error == EINTR)
            continue;
        // EAGAIN: the master is full. EIO on the master means no application holds
        // the port; it is not an error. Either way the bytes wait.
        if (error != EAGAIN && error != EIO && error != 0) {
            // Any other error stays: the bytes could never go, and a wait for room
            // would wake for them again and again.
            const Failure failure = Failure::OfCall("write", error);
            SayEvent(EventLevel::Error, "COM" + std::to_string(device.Number),
                     "the port did not take bytes for the application (" + failure.Text() + "); "
                         + std::to_string(device.Pending.size() - done) + " bytes dropped");
            done = device.Pending.size();
        }
        break;
    }
    device.Pending.erase(device.Pending.begin(), device.Pending.begin() + static_cast<std::ptrdiff_t>(done));
}

PortDriver::ReadOutcome PortDriver::Read(DriverHandle handle, uint8_t* buffer, uint32_t capacity)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device || !buffer)
        return {ReadResult::Failed, 0, Failure::Said("the port is not open")};
    if (capacity == 0)
        return {ReadResult::Bytes, 0, {}};
    ssize_t n;
    if (device->LineReports) {
        // In packet mode a read starts with a control byte: TIOCPKT_DATA before data,
        // or a report alone. The byte goes to its own place, the data to the caller's.
        uint8_t control = TIOCPKT_DATA;
        iovec parts[2] = {{&control, 1}, {buffer, capacity}};
        n = readv(device->Master.Get(), parts, 2);
        if (n > 0 && control != TIOCPKT_DATA) {
            NoteReport(*device, control);
            return {ReadResult::Bytes, 0, {}};
        }
        n = n > 0 ? n - 1 : n;
    } else {
        n = read(device->Master.Get(), buffer, capacity);
    }
    if (n > 0)
        return {ReadResult::Bytes, static_cast<uint32_t>(n), {}};
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return {ReadResult::Nothing, 0, {}};
    if (errno == EIO) {
        // EIO on the master means no application holds the port and nothing it wrote
        // is left; it is not an error.
        Refresh(*device);
        return {ReadResult::Gone, 0, {}};
    }
    return {ReadResult::Failed, 0, Failure::OfCall("read")};
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

bool PortDriver::QueryStatus(DriverHandle handle, PortStatus* status, bool look)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device || !status)
        return false;
    if (look || !device->Held)
        Refresh(*device);
    Flush(*device);
    status->OpenCount = device->Held ? 2 : 1;
    // No application, no room: bytes for it wait in the console until one opens the port.
    status->FreeSpace = device->Held ? static_cast<uint32_t>(BufferSize - device->Pending.size()) : 0;
    return true;
}

void PortDriver::NoteReport(Device& device, uint8_t control)
{
    if (control & TIOCPKT_FLUSHREAD)
        device.LineEvents |= LineEvent::FlushedInput;
    if (control & TIOCPKT_FLUSHWRITE)
        device.LineEvents |= LineEvent::FlushedOutput;
    // IOCTL: any change of the settings; NOSTOP/DOSTOP: XON/XOFF switched.
    if (control & (TIOCPKT_IOCTL | TIOCPKT_NOSTOP | TIOCPKT_DOSTOP)) {
        device.LineEvents |= LineEvent::SettingsChanged;
        // Without EXTPROC the next change would go unreported.
        SetExtproc(device.Master.Get(), true);
    }
}

bool PortDriver::SetLineReports(DriverHandle handle, bool on)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device)
        return false;
    if (device->LineReports == on)
        return true;
    int flag = on ? 1 : 0;
    if (ioctl(device->Master.Get(), TIOCPKT, &flag) != 0)
        return false;
    SetExtproc(device->Master.Get(), on);
    device->LineReports = on;
    device->LineEvents = LineEvent::None;
    return true;
}

LineEvent PortDriver::TakeLineEvents(DriverHandle handle)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    return device ? std::exchange(device->LineEvents, LineEvent::None) : LineEvent::None;
}

bool PortDriver::ReadLineSettings(DriverHandle handle, LineSettings& out)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    return device && ::ReadLineSettings(device->Master.Get(), out);
}

void PortDriver::ForgetOpenEvents()
{
    std::lock_guard<std::mutex> hold(Mutex);
    if (!InotifyFd.Valid())
        return;
    alignas(inotify_event) char events[4096];
    ssize_t n;
    while ((n = read(InotifyFd.Get(), events, sizeof events)) > 0) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, events + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            // An overflow names no watch: any port may have been opened.
            for (auto& [number, device] : Devices) {
                if ((event.mask & IN_Q_OVERFLOW) || device->Watch == event.wd)
                    device->Opened = true;
            }
        }
    }
}

bool PortDriver::TakeOpenNotice(DriverHandle handle)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Device* device = FindByHandle(handle);
    if (!device)
        return false;
    if (!InotifyFd.Valid() || device->Watch < 0)
        return true;
    return std::exchange(device->Opened, false);
}

int PortDriver::OpenNoticeFd() const
{
    return InotifyFd.Get();
}

PortDriver::Wait PortDriver::WaitFor(DriverHandle handle, bool wantRead, bool wantWrite, bool refresh)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Wait wait;
    Device* device = FindByHandle(handle);
    if (!device)
        return wait;
    if (refresh)
        Refresh(*device);
    Flush(*device);
    if (!device->Held) {
        // Its opening is told by the open notice, where there is one.
        wait.Poll = !(InotifyFd.Valid() && device->Watch >= 0);
        return wait;
    }
    if (wantRead)
        wait.Events |= POLLIN;
    if (!device->Pending.empty())
        wait.Events |= POLLOUT;
    else if (wantWrite)
        wait.Now = true;
    // Even with no events asked, POLLHUP tells when the application lets go.
    wait.Fd = device->Master.Get();
    return wait;
}
