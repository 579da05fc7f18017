#include "service/log_text.h"

#include "service/command_params.h"

namespace kavenor {
namespace {

// The value of parameter `name` as FindParamValue reads it, replaced by "***".
void HideValue(std::string& message, const std::string& name) {
  std::string value;
  if (!FindParamValue(message, name, value)) return;
  const size_t start = message.find(name) + name.size() + 1;
  if (start >= message.size()) return;
  message.replace(start, value.size(), "***");
}

}  // namespace

std::string LoggedMessage(const std::string& message) {
  std::string shown = message;
  const uint32_t code = ReadCommandCode(message);
  if (code == static_cast<uint32_t>(CommandCode::kM1Read) || code == static_cast<uint32_t>(CommandCode::kM1Write)) {
    HideValue(shown, "Key");
    HideValue(shown, "WriteBuf");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  const size_t count = shown.size() < kLoggedMessageChars ? shown.size() : kLoggedMessageChars;
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(shown[i]);
    if (byte < 0x20 || byte > 0x7E || byte == '\\') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (shown.size() > kLoggedMessageChars) out += "... (" + std::to_string(message.size()) + " bytes)";
  return out;
}

}  // namespace kavenor
