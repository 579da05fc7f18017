#include <windows.h>

#include "common/clock.h"

namespace kavenor {

uint64_t TickCountMs() { return GetTickCount64(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace kavenor
