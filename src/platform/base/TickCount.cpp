#include "platform/base/TickCount.h"

#include <chrono>

namespace {
const auto ProgramStart = std::chrono::steady_clock::now();
}

int32_t GetTickCount32()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - ProgramStart).count();
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

int64_t WallClockNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
