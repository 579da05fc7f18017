#include <sys/resource.h>

#include "bench/peak_memory.h"

namespace kavenor::bench {

uint64_t PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

}  // namespace kavenor::bench
