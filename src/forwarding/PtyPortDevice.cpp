// Implements PtyPortDevice: each call goes to the driver with the port's handle.
#include "forwarding/PtyPortDevice.h"

#include <string>

Failure PtyPortDevice::Open()
{
    if (HandleValue != INVALID_DRIVER_HANDLE)
        return {};
    HandleValue = PortDriver::Instance().Open(Number);
    if (HandleValue == INVALID_DRIVER_HANDLE)
        return Failure::Said("COM" + std::to_string(Number) + " is not present or already open");
    return {};
}

void PtyPortDevice::Close()
{
    if (HandleValue == INVALID_DRIVER_HANDLE)
        return;
    PortDriver::Instance().Close(HandleValue);
    HandleValue = INVALID_DRIVER_HANDLE;
}

PortDevice::ReadOutcome PtyPortDevice::Read(uint8_t* buffer, uint32_t capacity)
{
    return PortDriver::Instance().Read(HandleValue, buffer, capacity);
}

bool PtyPortDevice::Write(const uint8_t* data, uint32_t length)
{
    return PortDriver::Instance().Write(HandleValue, data, length);
}

bool PtyPortDevice::QueryStatus(PortStatus& status, bool look)
{
    return PortDriver::Instance().QueryStatus(HandleValue, &status, look);
}

PortDevice::Wait PtyPortDevice::WaitFor(bool wantRead, bool wantWrite, bool refresh)
{
    return PortDriver::Instance().WaitFor(HandleValue, wantRead, wantWrite, refresh);
}

bool PtyPortDevice::TakeOpenNotice()
{
    return PortDriver::Instance().TakeOpenNotice(HandleValue);
}

bool PtyPortDevice::SetLineReports(bool on)
{
    return PortDriver::Instance().SetLineReports(HandleValue, on);
}

LineEvent PtyPortDevice::TakeLineEvents()
{
    return PortDriver::Instance().TakeLineEvents(HandleValue);
}

bool PtyPortDevice::ReadLineSettings(LineSettings& out)
{
    return PortDriver::Instance().ReadLineSettings(HandleValue, out);
}
