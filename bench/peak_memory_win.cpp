#include <windows.h>
#include <psapi.h>

#include "bench/peak_memory.h"

namespace kavenor::bench {

uint64_t PeakResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
}

}  // namespace kavenor::bench
