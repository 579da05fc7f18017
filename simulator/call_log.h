// The call log beside the library: one line per entry-point call.
#pragma once

#include <string>

namespace kavenor::sim {

constexpr char16_t kCallLogFileName[] = u"calls.log";  // beside the library

// Appends `line` and a "\n" to the file at `path`, opening and closing the file for this line
// alone, so that a test reading the log between two calls sees every line written so far, and a
// process that crashes right after has still written it.
// Failures are ignored: the log must never change what a call returns.
void AppendLogLine(const std::u16string& path, const std::string& line);

}  // namespace kavenor::sim
