// libFuzzer target over the command-message readers. Each input is one message; every reader is run
// on it and its result is checked against the C library's own conversions (strtoul/strtol), which
// the readers are meant to follow, and against what their callers rely on: nothing written outside
// the 6- and 16-byte buffers, counts within capacity, a time-out within 0..2147483647.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "service/command_params.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& message) {
  std::fprintf(stderr, "command_params_fuzzer: %s (message of %zu bytes)\n", what, message.size());
  std::abort();
}

void Check(bool ok, const char* what, const std::string& message) {
  if (!ok) Fail(what, message);
}

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// What strtoul does where unsigned long has 32 bits, computed with the 64-bit strtoull: the same
// scan, then the 32-bit range rules (a magnitude beyond 32 bits gives 4294967295 whatever the sign;
// a minus negates modulo 2^32). Reading stops at a NUL byte, as it does for the C function.
uint32_t ReferenceStrToUInt(const std::string& text, int base) {
  const char* s = text.c_str();
  const char* p = s;
  while (IsCSpace(*p)) ++p;
  const bool negative = *p == '-';
  errno = 0;
  unsigned long long r = std::strtoull(s, nullptr, base);
  if (errno == ERANGE) return std::numeric_limits<uint32_t>::max();
  unsigned long long magnitude = negative ? 0ull - r : r;
  if (magnitude > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  return negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
}

// Up to the first NUL: the part of a byte string that the C conversions see.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

// A byte buffer of `capacity` bytes with guard bytes on both sides, all in one allocation so that
// the sanitizer alone would miss a short overrun; the guards catch it. The buffer starts filled
// with a pattern, so that the bytes the reader must leave alone can be told from zeros.
class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 32;
  static constexpr uint8_t kGuardByte = 0xA5;

  explicit GuardedBuffer(size_t capacity) : capacity_(capacity), bytes_(new uint8_t[capacity + 2 * kGuard]) {
    std::memset(bytes_.get(), kGuardByte, capacity + 2 * kGuard);
    for (size_t i = 0; i < capacity_; ++i) data()[i] = Pattern(i);
  }

  uint8_t* data() { return bytes_.get() + kGuard; }
  size_t capacity() const { return capacity_; }
  static uint8_t Pattern(size_t i) { return static_cast<uint8_t>(0x5A ^ (i * 37)); }

  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (bytes_[i] != kGuardByte || bytes_[kGuard + capacity_ + i] != kGuardByte) return false;
    return true;
  }

 private:
  size_t capacity_;
  std::unique_ptr<uint8_t[]> bytes_;
};

void CheckStrToUInt(const std::string& message) {
  // The whole message, in the two bases the commands use; the C function stops at a NUL byte.
  for (int base : {10, 16})
    Check(kavenor::StrToUInt(message, base) == ReferenceStrToUInt(UpToNul(message), base),
          "StrToUInt differs from strtoul", message);
}

void CheckCode(const std::string& message) {
  const std::string codePart = message.substr(0, message.find('?'));
  Check(kavenor::ReadCommandCode(message) == ReferenceStrToUInt(UpToNul(codePart), 16),
        "ReadCommandCode differs from strtoul of the code part", message);
}

void CheckTimeout(const std::string& message) {
  const int32_t ms = kavenor::CommandTimeoutMs(message);
  Check(ms >= 0, "negative time-out", message);
  const size_t at = message.find("timeout=");
  if (at == std::string::npos) {
    Check(ms == 0, "time-out without timeout=", message);
    return;
  }
  uint32_t expected = ReferenceStrToUInt(UpToNul(message.substr(at + 8)), 10);
  if (expected > 2147483647u) expected = 2147483647u;
  Check(static_cast<uint32_t>(ms) == expected, "time-out differs from strtoul, clamped", message);
}

// The value as FindParamValue reports it, checked for what every caller relies on: it lies in the
// message right after the name and its one skipped character, and ends at a "|" or the end.
bool CheckedValue(const std::string& message, const std::string& name, std::string& value) {
  value = "(untouched)";
  const bool found = kavenor::FindParamValue(message, name, value);
  const size_t at = message.find(name);
  Check(found == (at != std::string::npos), "FindParamValue disagrees with find", message);
  if (!found) return false;
  const size_t start = at + name.size() + 1;
  if (start >= message.size()) {
    Check(value.empty(), "a name at the end has a value", message);
    return true;
  }
  Check(value.size() <= message.size() - start, "value longer than the rest of the message", message);
  Check(message.compare(start, value.size(), value) == 0, "value is not the text after the name", message);
  const size_t end = start + value.size();
  Check(end == message.size() || message[end] == '|', "value ends neither at | nor at the end", message);
  // The first "|" at or after the name ends the value when it lies beyond the value's start; one
  // right after the name, or in the value's first place, lets the value run to the end.
  const size_t bar = message.find('|', at);
  if (bar != std::string::npos && bar > start) Check(end == bar, "value runs past its |", message);
  if (bar == std::string::npos || bar <= start) Check(end == message.size(), "value ends early", message);
  return true;
}

void CheckIntParam(const std::string& message, const std::string& name) {
  std::string value;
  const bool found = CheckedValue(message, name, value);
  const int64_t n = kavenor::GetIntParam(message, name);
  if (!found) {
    Check(n == -1, "absent parameter is not -1", message);
    return;
  }
  Check(n == static_cast<int64_t>(ReferenceStrToUInt(UpToNul(value), 10)), "GetIntParam differs from strtoul",
        message);
}

void CheckHexParam(const std::string& message, const std::string& name, size_t capacity) {
  std::string value;
  const bool found = CheckedValue(message, name, value);
  GuardedBuffer buffer(capacity);
  const int count = kavenor::GetHexParam(message, name, buffer.data(), buffer.capacity());
  Check(buffer.GuardsIntact(), "GetHexParam wrote outside its buffer", message);
  if (!found) {
    Check(count == -1, "absent parameter is not -1", message);
    for (size_t i = 0; i < capacity; ++i)
      Check(buffer.data()[i] == GuardedBuffer::Pattern(i), "absent parameter changed the buffer", message);
    return;
  }
  Check(count >= 0 && static_cast<size_t>(count) <= capacity, "count beyond capacity", message);
  const size_t pairs = value.size() / 2 < capacity ? value.size() / 2 : capacity;
  Check(static_cast<size_t>(count) == pairs, "count is not the number of digit pairs", message);
  for (size_t k = 0; k < capacity; ++k) {
    if (k < pairs) {
      const std::string pair = UpToNul(value.substr(2 * k, 2));
      const long expected = std::strtol(pair.c_str(), nullptr, 16);
      Check(buffer.data()[k] == static_cast<uint8_t>(static_cast<unsigned long>(expected) & 0xFF),
            "byte differs from strtol of its pair", message);
    } else {
      Check(buffer.data()[k] == GuardedBuffer::Pattern(k), "byte beyond the count changed", message);
    }
  }
}

// The command read once agrees with its readers.
void CheckCommand(const std::string& message) {
  const std::optional<kavenor::Command> c = kavenor::ParseCommand(message);
  const uint32_t code = kavenor::ReadCommandCode(message);
  Check(c.has_value() == (code >= 2 && code <= 9), "ParseCommand disagrees with the code", message);
  if (!c) return;
  Check(static_cast<uint32_t>(c->code) == code, "ParseCommand has another code", message);
  if (code == 2) Check(c->timeoutMs == kavenor::CommandTimeoutMs(message), "ParseCommand has another time-out", message);
  std::string format;
  const bool json = code >= 2 && code <= 4 && CheckedValue(message, "format", format) && format == "json";
  Check(c->json == json, "ParseCommand asks for another record form", message);
  if (code == 7 || code == 8)
    Check(c->block == static_cast<uint8_t>(kavenor::GetIntParam(message, "Block") & 0xFF), "another block", message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string message(reinterpret_cast<const char*>(data), size);
  CheckStrToUInt(message);
  CheckCode(message);
  CheckTimeout(message);
  CheckIntParam(message, "Block");
  CheckHexParam(message, "Key", 6);
  CheckHexParam(message, "WriteBuf", 16);
  CheckCommand(message);
  return 0;
}
