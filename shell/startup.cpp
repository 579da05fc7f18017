#include "shell/startup.h"

#include "common/settings.h"

namespace kavenor {

StartKind TakeRestartFlag(const std::u16string& settingsPath) {
  const bool relaunch = ReadSetting(kRestartSetting, settingsPath) == 1;
  // Written only when it is not "0" already: a file write on every start costs more than the rest
  // of the start together.
  if (ReadSettingString(kRestartSetting.section, kRestartSetting.key, u"", settingsPath, 16) != u"0")
    WriteSetting(kRestartSetting, u"0", settingsPath);
  return relaunch ? StartKind::kRelaunch : StartKind::kNormal;
}

}  // namespace kavenor
