#pragma once
#include <cstdint>

#include "platform/base/Failure.h"

// Process-wide, reference-counted start-up and clean-up of the sockets library.
// Touched only while the port manager is built and destroyed, on the window thread.
class CNetIO {
public:
    static CNetIO* Acquire();
    // Returns the remaining use count.
    static int Release();
    // Empty on success (also when already started); otherwise why the library
    // cannot be had.
    Failure Start();


private:
    CNetIO() = default;
    int32_t Started = 0;
};
