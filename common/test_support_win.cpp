#include <windows.h>

#include "common/test_support.h"

namespace kavenor::testing {

int RunProgram(const std::u16string& program, const std::vector<std::u16string>& args) {
  std::u16string command = u"\"" + program + u"\"";
  for (const auto& a : args) command += u" \"" + a + u"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line(command.begin(), command.end());
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(program.c_str()), line.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

}  // namespace kavenor::testing
