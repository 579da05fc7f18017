#include <spawn.h>
#include <sys/wait.h>

#include "common/test_support.h"
#include "common/text.h"

extern char** environ;

namespace kavenor::testing {

int RunProgram(const std::u16string& program, const std::vector<std::u16string>& args) {
  std::vector<std::string> storage{Utf16ToUtf8(program)};
  for (const auto& a : args) storage.push_back(Utf16ToUtf8(a));
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, storage[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kavenor::testing
