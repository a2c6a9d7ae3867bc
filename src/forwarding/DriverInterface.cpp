// Implements the three driver requests on a port's handle.
#include "forwarding/DriverInterface.h"

#include "forwarding/PortObject.h"

bool ReadPort(CPortObject* port, uint8_t* buffer, uint32_t capacity, uint32_t* count)
{
    return PortDriver::Instance().Read(port->GetDriverHandle(), buffer, capacity, count);
}

bool WritePort(CPortObject* port, const uint8_t* data, uint32_t length)
{
    return PortDriver::Instance().Write(port->GetDriverHandle(), data, length);
}

bool QueryStatus(CPortObject* port, PortStatus* status)
{
    return PortDriver::Instance().QueryStatus(port->GetDriverHandle(), status);
}

bool SetLineReports(CPortObject* port, bool on)
{
    return PortDriver::Instance().SetLineReports(port->GetDriverHandle(), on);
}

uint8_t TakeLineEvents(CPortObject* port)
{
    return PortDriver::Instance().TakeLineEvents(port->GetDriverHandle());
}

bool ReadLineSettings(CPortObject* port, LineSettings& out)
{
    return PortDriver::Instance().ReadLineSettings(port->GetDriverHandle(), out);
}

bool IsOpenedByApplication(CPortObject* port)
{
    if (!port)
        return false;
    PortStatus status {};
    return QueryStatus(port, &status) && status.OpenCount > 1;
}
