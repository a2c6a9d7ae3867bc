#pragma once
#include <cstdint>

// Process-wide, reference-counted start-up and clean-up of the sockets library.
// Touched only while the port manager is built and destroyed, on the window thread.
class CNetIO {
public:
    static CNetIO* Acquire();
    // Returns the remaining use count.
    static int Release();
    // 0 on success (also when already started); otherwise the library's error code.
    int Start();


private:
    CNetIO() = default;
    int32_t Started = 0;
};
