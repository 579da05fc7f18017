#include "shell/startup.h"

#include "common/settings.h"

namespace kavenor {

StartKind TakeRestartFlag(const std::u16string& settingsPath) {
  const bool relaunch = ReadSetting(kRestartSetting, settingsPath) == 1;
  WriteSetting(kRestartSetting, u"0", settingsPath);
  return relaunch ? StartKind::kRelaunch : StartKind::kNormal;
}

}  // namespace kavenor
