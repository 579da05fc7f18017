#include "common/settings.h"

#include "common/file_io.h"
#include "common/text.h"

namespace kavenor {

std::string SettingsFileText(const std::u16string& path, SettingsEncoding* encoding) {
  std::string bytes;
  if (encoding) *encoding = SettingsEncoding::kBytes;
  if (!ReadWholeFile(path, bytes)) return {};
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    if (encoding) *encoding = SettingsEncoding::kUtf16;
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
    return Utf16ToUtf8(text);
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    if (encoding) *encoding = SettingsEncoding::kUtf8WithMark;
    bytes.erase(0, 3);
  }
  return bytes;
}

int32_t ReadSetting(const IntSetting& setting, const std::u16string& path) {
  return ReadSettingInt(setting.section, setting.key, setting.fallback, path);
}

std::u16string ReadSetting(const TextSetting& setting, const std::u16string& path, size_t capacity) {
  return ReadSettingString(setting.section, setting.key, setting.fallback, path, capacity);
}

bool WriteSetting(const IntSetting& setting, const std::u16string& value, const std::u16string& path) {
  return WriteSettingString(setting.section, setting.key, value, path);
}

bool WriteSetting(const TextSetting& setting, const std::u16string& value, const std::u16string& path) {
  return WriteSettingString(setting.section, setting.key, value, path);
}

}  // namespace kavenor
