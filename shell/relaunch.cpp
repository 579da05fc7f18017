#include "shell/relaunch.h"

#include "common/settings.h"

namespace kavenor {

RelaunchOutcome RelaunchProgram(const std::u16string& settingsPath, const std::function<bool()>& start) {
  if (start()) return RelaunchOutcome::kStarted;
  // Left at 1, the flag would let the next start skip the single-instance check.
  WriteSetting(kRestartSetting, u"0", settingsPath);
  return RelaunchOutcome::kFailed;
}

}  // namespace kavenor
