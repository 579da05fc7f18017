#include <windows.h>

#include "shell/relaunch.h"

namespace kavenor {

bool StartProgram(const std::u16string& programPath) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(programPath.c_str()), nullptr, nullptr, nullptr, FALSE,
                      NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace kavenor
