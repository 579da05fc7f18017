#include "service/command_params.h"

#include <cctype>
#include <limits>

namespace kavenor {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool StartsWithHexDigits(const std::string& text, size_t count) {
  if (text.size() < count) return false;
  for (size_t i = 0; i < count; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

struct Number {
  bool negative = false;
  bool overflow = false;  // the magnitude does not fit 32 bits
  uint32_t magnitude = 0;
};

// The strtol/strtoul scan over [begin, end): blanks, sign, "0x" for base 16, digits.
Number Scan(const char* begin, const char* end, int base) {
  Number n;
  const char* p = begin;
  while (p < end && IsSpace(*p)) ++p;
  if (p < end && (*p == '+' || *p == '-')) n.negative = *p++ == '-';
  if (base == 16 && end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16)
    p += 2;
  uint64_t value = 0;
  for (; p < end && DigitValue(*p) < base; ++p) {
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(*p));
    if (value > std::numeric_limits<uint32_t>::max()) {
      n.overflow = true;
      value = std::numeric_limits<uint32_t>::max();
    }
  }
  n.magnitude = static_cast<uint32_t>(value);
  return n;
}

}  // namespace

uint32_t StrToUInt(const std::string& text, int base) {
  Number n = Scan(text.data(), text.data() + text.size(), base);
  if (n.overflow) return std::numeric_limits<uint32_t>::max();
  return n.negative ? 0u - n.magnitude : n.magnitude;
}

bool FindParamValue(const std::string& message, const std::string& name, std::string& value) {
  size_t at = message.find(name);
  if (at == std::string::npos) return false;
  size_t bar = message.find('|', at);
  size_t start = at + name.size() + 1;
  if (start >= message.size()) {
    value.clear();
    return true;
  }
  size_t end = bar != std::string::npos && bar > start ? bar : message.size();
  value = message.substr(start, end - start);
  return true;
}

int64_t GetIntParam(const std::string& message, const std::string& name) {
  std::string value;
  if (!FindParamValue(message, name, value)) return -1;
  return StrToUInt(value, 10);
}

int GetHexParam(const std::string& message, const std::string& name, uint8_t* out, size_t capacity) {
  std::string value;
  if (!FindParamValue(message, name, value)) return -1;
  size_t pairs = value.size() / 2;
  if (pairs > capacity) pairs = capacity;
  for (size_t k = 0; k < pairs; ++k) {
    // A signed reading of two characters; its low 8 bits are the byte.
    Number n = Scan(value.data() + 2 * k, value.data() + 2 * k + 2, 16);
    uint32_t v = n.negative ? 0u - n.magnitude : n.magnitude;
    out[k] = static_cast<uint8_t>(v & 0xFF);
  }
  return static_cast<int>(pairs);
}

uint32_t ReadCommandCode(const std::string& message) {
  return StrToUInt(message.substr(0, message.find('?')), 16);
}

int32_t CommandTimeoutMs(const std::string& message) {
  static const std::string kName = "timeout=";
  size_t at = message.find(kName);
  if (at == std::string::npos) return 0;
  uint32_t ms = StrToUInt(message.substr(at + kName.size()), 10);
  const uint32_t kMax = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(ms > kMax ? kMax : ms);
}

bool WantsJsonRecord(const std::string& message) {
  std::string value;
  return FindParamValue(message, "format", value) && value == "json";
}

std::optional<Command> ParseCommand(const std::string& message) {
  const uint32_t code = ReadCommandCode(message);
  if (code < 2 || code > 9) return std::nullopt;
  Command c;
  c.code = static_cast<CommandCode>(code);
  switch (c.code) {
    case CommandCode::kWaitingRead:
      c.timeoutMs = CommandTimeoutMs(message);
      c.json = WantsJsonRecord(message);
      break;
    case CommandCode::kReadIdCard:
    case CommandCode::kReadIdCardNoJudge: c.json = WantsJsonRecord(message); break;
    case CommandCode::kM1Read:
      c.badParameters = GetHexParam(message, "Key", c.key, sizeof c.key) < 0;
      c.block = static_cast<uint8_t>(GetIntParam(message, "Block") & 0xFF);
      break;
    case CommandCode::kM1Write: {
      const int64_t block = GetIntParam(message, "Block");
      c.block = static_cast<uint8_t>(block & 0xFF);
      // A write replaces the whole block: without a block named, or with fewer than its 16 bytes
      // given, it would write zeros where the page meant nothing (into a sector trailer, for ever).
      std::string data;
      c.badParameters = GetHexParam(message, "Key", c.key, sizeof c.key) < 0 || block < 0 ||
                        !FindParamValue(message, "WriteBuf", data) || !StartsWithHexDigits(data, 2 * sizeof c.data) ||
                        GetHexParam(message, "WriteBuf", c.data, sizeof c.data) < 0;
      break;
    }
    default: break;
  }
  return c;
}

}  // namespace kavenor
