// The process's peak resident memory so far, in bytes.
#pragma once

#include <cstdint>

namespace kavenor::bench {

uint64_t PeakResidentBytes();

}  // namespace kavenor::bench
