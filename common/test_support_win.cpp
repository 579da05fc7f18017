#include <windows.h>

#include "common/test_support.h"

namespace kavenor::testing {
namespace {

HANDLE HandleOf(intptr_t process) { return reinterpret_cast<HANDLE>(process); }

}  // namespace

ChildProcess::ChildProcess(const std::u16string& program, const std::vector<std::u16string>& args) {
  std::u16string command = u"\"" + program + u"\"";
  for (const auto& a : args) command += u" \"" + a + u"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line(command.begin(), command.end());
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(program.c_str()), line.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return;
  CloseHandle(pi.hThread);
  process_ = reinterpret_cast<intptr_t>(pi.hProcess);
}

bool ChildProcess::Running() {
  if (process_ < 0 || ended_) return false;
  if (WaitForSingleObject(HandleOf(process_), 0) == WAIT_TIMEOUT) return true;
  Wait();
  return false;
}

int ChildProcess::Wait() {
  if (process_ < 0 || ended_) return exitCode_;
  WaitForSingleObject(HandleOf(process_), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(HandleOf(process_), &code);
  CloseHandle(HandleOf(process_));
  ended_ = true;
  exitCode_ = static_cast<int>(code);
  return exitCode_;
}

void ChildProcess::Kill() {
  if (process_ < 0 || ended_) return;
  TerminateProcess(HandleOf(process_), 1);
  Wait();
}

}  // namespace kavenor::testing
