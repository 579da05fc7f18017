#include <windows.h>

#include "common/clock.h"

namespace kavenor {

uint64_t TickCountMs() { return GetTickCount64(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  return local;
}

}  // namespace kavenor
