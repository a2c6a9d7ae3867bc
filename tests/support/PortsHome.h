#pragma once
// A private HOME for tests that make ports present. The driver keeps a port present
// beyond the manager that attached it, as a device outlives a console; here the
// ports go with the folder their links are in.
#include "platform/pty/PortDriver.h"
#include "TempFolder.h"

namespace qlntest {

class PortsHome : public TempHome {
public:
    PortsHome() = default;
    ~PortsHome() { PortDriver::Instance().DetachAll(); }
};

} // namespace qlntest
