#pragma once
#include <cstdint>

#include "platform/base/Failure.h"
#include "platform/base/LineSettings.h"
#include "platform/pty/PortDriver.h"

// The device under one port, as the port object uses it: open and close, read what
// the application wrote, write for it within the room there is, the descriptor to
// wait on, the notice of an application opening it, and the line it set. The
// pseudo-terminal driver is one (PtyPortDevice); tests use one in memory.
//
// Called by the port object with the manager lock held; the device may keep a lock
// of its own besides.
class PortDevice {
public:
    using ReadResult = PortDriver::ReadResult;
    using Wait = PortDriver::Wait;
    // What one read found: the result, the bytes it put in the buffer, and why it
    // failed (Failed only).
    using ReadOutcome = PortDriver::ReadOutcome;

    virtual ~PortDevice() = default;

    // Opens the console's handle on the device; an open device stays open.
    virtual Failure Open() = 0;
    // Closes it; a closed device stays closed. The application keeps its side.
    virtual void Close() = 0;
    // A number for the current open (a new one each time), or INVALID_DRIVER_HANDLE.
    virtual DriverHandle Handle() const = 0;

    // Bytes the application wrote, at most `capacity`. What the application wrote
    // before it let go is still read after (Gone once none is left).
    virtual ReadOutcome Read(uint8_t* buffer, uint32_t capacity) = 0;
    // Takes all `length` bytes or none: false when they do not fit the free space.
    virtual bool Write(const uint8_t* data, uint32_t length) = 0;
    // Handles open (the console's own included) and the room for a write now; false
    // when not open. `look` looks afresh whether an application holds the device;
    // without it the device goes by what it saw last.
    virtual bool QueryStatus(PortStatus& status, bool look) = 0;
    // What a pump should wake on for the application's bytes (`wantRead`), room for
    // queued ones (`wantWrite`) and the application letting go.
    virtual Wait WaitFor(bool wantRead, bool wantWrite, bool refresh) = 0;
    // Whether the notice of an application opening this device came since the last
    // call (true, always, where no notice can tell the devices apart).
    virtual bool TakeOpenNotice() = 0;

    // Reports of the application's settings changes and flushes, on or off.
    virtual bool SetLineReports(bool on) = 0;
    virtual LineEvent TakeLineEvents() = 0;
    // The application's line settings; false when not open.
    virtual bool ReadLineSettings(LineSettings& out) = 0;
};
