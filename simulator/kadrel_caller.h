// The exit codes of kadrel_caller besides 0 (every call returned), apart from those of a C runtime's
// abort() (3 on Windows) and of the failures it is run to see.
#pragma once

namespace kavenor::sim {

constexpr int kCallerNotLoaded = 20;    // the library did not load
constexpr int kCallerCannotCall = 21;   // the library lacks the entry point, or this program does not call its type

}  // namespace kavenor::sim
