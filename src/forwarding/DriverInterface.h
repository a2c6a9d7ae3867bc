#pragma once
#include <cstdint>

#include "platform/pty/PortDriver.h"

class CPortObject;

// The three driver requests on a port's handle, read under the manager lock.
// Each fails on a closed or invalid handle and then moves nothing.
bool ReadPort(CPortObject* port, uint8_t* buffer, uint32_t capacity, uint32_t* count);
bool WritePort(CPortObject* port, const uint8_t* data, uint32_t length);
bool QueryStatus(CPortObject* port, PortStatus* status);

// The driver's line reports (PortDriver::SetLineReports, TakeLineEvents) and the
// application's line settings, on the port's handle.
bool SetLineReports(CPortObject* port, bool on);
uint8_t TakeLineEvents(CPortObject* port);
bool ReadLineSettings(CPortObject* port, LineSettings& out);

// True when an application holds the port: the status request succeeds and counts
// more than the console's own handle. Takes the manager lock.
bool IsOpenedByApplication(CPortObject* port);
