#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/base/Failure.h"
#include "platform/base/LineSettings.h"
#include "platform/base/UniqueFd.h"


// The driver's answer to a status request: handles open on the port (the console's
// own included) and the bytes a write would take now.
struct PortStatus {
    uint32_t OpenCount;
    uint32_t FreeSpace;
};
static_assert(sizeof(PortStatus) == 8, "the status record is 8 bytes");

using DriverHandle = int;
constexpr DriverHandle INVALID_DRIVER_HANDLE = -1;

// What the application did to the line while line reports are on: bits, gathered
// until taken.
enum class LineEvent : uint8_t { None = 0, SettingsChanged = 1, FlushedInput = 2, FlushedOutput = 4 };
constexpr LineEvent operator|(LineEvent a, LineEvent b)
{
    return static_cast<LineEvent>(static_cast<uint8_t>(a) | static_cast<uint8_t>(b));
}
constexpr LineEvent operator&(LineEvent a, LineEvent b)
{
    return static_cast<LineEvent>(static_cast<uint8_t>(a) & static_cast<uint8_t>(b));
}
constexpr LineEvent& operator|=(LineEvent& a, LineEvent b)
{
    return a = a | b;
}
// Whether any of the bits of `bits` is in `events`.
constexpr bool Has(LineEvent events, LineEvent bits)
{
    return (events & bits) != LineEvent::None;
}

// Stand-in for the Quillon port driver. It owns one pseudo-terminal per present
// device for as long as the device is present, not per console handle, so the
// path an application holds stays valid while the console closes and reopens its
// handles. The application side of COM<n> is the symbolic link COM<n> in the link
// folder. It leads to the pseudo-terminal's slave only while this process lives: it
// points at /proc/<pid>/fd/<k>, where k is a path-only (O_PATH) descriptor of the
// slave that this process keeps at a high number. Opening the link opens the slave
// itself; once the process is gone, even after SIGKILL, the path no longer exists,
// so a link left behind never leads into a terminal that another program got since.
//
// One per process, like the kernel it stands for. Any thread may call it: it has a
// lock of its own, separate from the port manager's.
class PortDriver {
public:
    static PortDriver& Instance();

    // Device side, called by the device store (or by tests).
    // Makes COM<number> present: a new pseudo-terminal whose slave only this user may
    // open (0600) and the link COM<number> in `linkFolder` (a stale link is replaced;
    // anything else of that name is left alone and the attach fails). Empty when the
    // port is present afterwards; otherwise what failed, which the driver also keeps
    // for the port until it is attached or detached (AttachFailure).
    Failure AttachDevice(int number, const std::string& linkFolder);
    // Why the last AttachDevice of COM<number> failed, whoever called it; empty when
    // it is attached or was never refused.
    Failure AttachFailure(int number) const;
    // Takes COM<number> down: closes a console handle open on it, the pseudo-terminal
    // and removes its link.
    void DetachDevice(int number);
    // Takes every device down (the end of the process, or a test's clean-up).
    void DetachAll();
    bool IsAttached(int number) const;
    // The COM<n> link of a present port, or empty.
    std::string LinkPath(int number) const;

    // Console side: the open and the three requests. A port opens once (no sharing).
    DriverHandle Open(int number);
    void Close(DriverHandle handle);
    // What a read found: bytes (`Count` of them; 0 for a line report alone), none
    // yet while an application holds the port, none left of what an application
    // wrote before it let go (the bytes it wrote stay readable after its close, up
    // to this), or a failure (`Why`; also for an unknown handle).
    enum class ReadResult { Bytes, Nothing, Gone, Failed };
    struct ReadOutcome {
        ReadResult Result = ReadResult::Nothing;
        uint32_t Count = 0;
        Failure Why;
    };
    // Bytes the application wrote, at most `capacity`. Reading says nothing of
    // whether an application holds the port: what one wrote before it let go is read
    // after it has gone.
    ReadOutcome Read(DriverHandle handle, uint8_t* buffer, uint32_t capacity);
    // Takes all `length` bytes or none: fails when they do not fit the free space.
    bool Write(DriverHandle handle, const uint8_t* data, uint32_t length);
    // `look` looks afresh whether an application holds the port (one system call);
    // without it the driver goes by what its requests and the caller's wait saw last
    // (a caller whose readiness wait watches the master for its hang-up, and saw none).
    bool QueryStatus(DriverHandle handle, PortStatus* status, bool look = true);

    // Takes the application-open events seen so far off the notice, each kept by the
    // port it names until TakeOpenNotice. Call it once before collecting the waits of
    // all ports: an open after it stays pending and ends the wait, while draining per
    // port could swallow the open of a port already collected. A notice that lost
    // events (its queue overflowed) counts for every port.
    void ForgetOpenEvents();
    // Whether an application opened the port of `handle` since the last call (as
    // ForgetOpenEvents found). Always true where the system gives no notice.
    bool TakeOpenNotice(DriverHandle handle);
    // What a pump waiting for one port should wake on.
    struct Wait {
        int Fd = -1;          // the master while an application holds the port, or -1
        short Events = 0;     // poll(2) events on it; with none, its hang-up still counts
        bool Now = false;     // there is room for queued bytes now: do not wait
        bool Poll = false;    // no application, and no open notice to wait for: the
                              // pump must look again soon
    };
    // The application's bytes (`wantRead`), room for queued bytes (`wantWrite`), and
    // the application letting go of the port. While no application holds it, the
    // port's opening is told by OpenNoticeFd. `refresh` looks afresh whether an
    // application holds the port (one system call); without it the driver goes by
    // what its requests saw last.
    Wait WaitFor(DriverHandle handle, bool wantRead, bool wantWrite, bool refresh);
    // Readable when an application opens any port's slave; ForgetOpenEvents empties
    // it. -1 where the system gives no such notice.
    int OpenNoticeFd() const;

    // Line reports, for a port whose settings a remote serial port follows: the
    // master in packet mode and EXTPROC on the line, so that every change of the
    // application's settings and every flush of its buffers is reported. Read still
    // returns data bytes only; the reports gather until TakeLineEvents. Off (as a
    // port starts) the port is a plain pseudo-terminal. An application that clears
    // EXTPROC gets it back at its next change. The setting stays with the device
    // while its handle is closed and opened again.
    bool SetLineReports(DriverHandle handle, bool on);
    // The LineEvent bits gathered since the last call; none without reports.
    LineEvent TakeLineEvents(DriverHandle handle);
    // The application's line settings (those it set on the slave); false when the
    // handle is not open.
    bool ReadLineSettings(DriverHandle handle, LineSettings& out);

    // Room the driver keeps for bytes on their way to the application.
    static constexpr uint32_t BufferSize = 16384;

    ~PortDriver();

private:
    struct Device;
    PortDriver();
    Device* FindByHandle(DriverHandle handle);
    void Refresh(Device& device);
    void Flush(Device& device);
    void NoteReport(Device& device, uint8_t control);
    void DetachLocked(int number);
    Failure Refuse(int number, Failure why);

    mutable std::mutex Mutex;
    std::map<int, std::unique_ptr<Device>> Devices; // by COM number
    std::map<DriverHandle, int> Handles;             // open console handles → COM number
    std::map<int, Failure> Problems;                 // failed attaches → why
    DriverHandle NextHandle = 1;
    UniqueFd InotifyFd; // wakes a waiting pump when an application opens a slave
};
