// Time and pauses.
#pragma once

#include <cstdint>
#include <ctime>

namespace kavenor {

// Milliseconds since the system started (GetTickCount64 on Windows, a monotonic clock elsewhere).
uint64_t TickCountMs();

// Blocks the calling thread for `ms` milliseconds (Sleep; 0 yields).
void SleepMs(uint32_t ms);

// The calendar time now, in the local time zone.
std::tm LocalTimeNow();

}  // namespace kavenor
