#pragma once
#include <cstdint>

// Milliseconds since the program started, as a signed 32-bit number that wraps.
// Every delay, stamp and reconnect interval of the console uses it; compare two
// readings only through their difference (TickElapsed).
int32_t GetTickCount32();

// `later` minus `earlier` in milliseconds, in wrapping arithmetic: negative when
// `later` comes first.
inline int32_t TickDiff(int32_t later, int32_t earlier)
{
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// Whether `interval` milliseconds have passed since `stamp`.
inline bool TickElapsed(int32_t now, int32_t stamp, int32_t interval)
{
    return TickDiff(now, stamp) >= interval;
}

// The tick `interval` milliseconds after `stamp`.
inline int32_t TickAfter(int32_t stamp, int32_t interval)
{
    return static_cast<int32_t>(static_cast<uint32_t>(stamp) + static_cast<uint32_t>(interval));
}

// The wall clock in milliseconds since 1970: the time of events, failures and
// records as people read it (never for delays, which the tick measures).
int64_t WallClockNow();
