#include "common/settings.h"

namespace kavenor {

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
