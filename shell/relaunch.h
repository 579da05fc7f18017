// Starting the program anew after a settings change that needs a restart.
#pragma once

#include <functional>
#include <string>

namespace kavenor {

// Starts the program file at `programPath` as a new process with no arguments, handles not
// inherited; true once that process has started.
bool StartProgram(const std::u16string& programPath);

enum class RelaunchOutcome {
  kStarted,  // the new instance runs: close this one
  kFailed,   // [IP] Restart is "0" again and this instance goes on; tell the operator
};

// The relaunch after a change has written its settings and [IP] Restart = 1: the new instance is
// started first (`start`), and only when it has started does this one close.
RelaunchOutcome RelaunchProgram(const std::u16string& settingsPath, const std::function<bool()>& start);

// Shown when the new instance could not be started.
inline constexpr char16_t kRelaunchFailed[] = u"程序重新启动失败，新设置将在下次启动时生效";

}  // namespace kavenor
