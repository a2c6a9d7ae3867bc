#pragma once
#include <cstdint>

// Milliseconds since the program started, as a signed 32-bit number that wraps.
// Every delay, stamp and reconnect interval of the console uses it; compare two
// readings only through their difference (TickElapsed).
int32_t GetTickCount32();

// Whether `interval` milliseconds have passed since `stamp`, in wrapping arithmetic.
inline bool TickElapsed(int32_t now, int32_t stamp, int32_t interval)
{
    return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(stamp)) >= interval;
}
