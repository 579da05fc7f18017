#include "common/exe_dir.h"

#include "common/settings_keys.h"

namespace kavenor {

std::u16string GetModuleDirWithSeparator() {
  std::u16string path = GetModulePath();
  size_t cut = path.find_last_of(kPathSeparator);
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

std::u16string JoinPath(const std::u16string& dir, const std::u16string& name) {
  return dir + kPathSeparator + name;
}

std::u16string SettingsFilePath() { return JoinPath(GetExeDir(), kSettingsFileName); }

}  // namespace kavenor
