// The call log beside the library: one line per entry-point call.
#pragma once

#include <string>

namespace kavenor::sim {

// Appends `line` and a "\n" to the file at `path`, opening and closing the file for this line
// alone, so that a test reading the log between two calls sees every line written so far.
// Failures are ignored: the log must never change what a call returns.
void AppendLogLine(const std::u16string& path, const std::string& line);

}  // namespace kavenor::sim
