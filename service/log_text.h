// How a client's message appears in the service's own log lines: never a forged line, never a
// memory-card key or the data written, never more than a glance at a large message.
#pragma once

#include <cstddef>
#include <string>

namespace kavenor {

// The most characters of a message that a log line shows.
constexpr size_t kLoggedMessageChars = 200;

// `message` for a log line: the values of "Key" and "WriteBuf" of a memory-card command replaced by
// "***", control characters, backslashes and bytes above 0x7E as "\xNN", and a message longer than
// kLoggedMessageChars cut there, followed by "... (N bytes)".
std::string LoggedMessage(const std::string& message);

}  // namespace kavenor
