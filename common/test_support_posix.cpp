#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "common/test_support.h"
#include "common/text.h"

extern char** environ;

namespace kavenor::testing {
namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::u16string& program, const std::vector<std::u16string>& args) {
  std::vector<std::string> storage{Utf16ToUtf8(program)};
  for (const auto& a : args) storage.push_back(Utf16ToUtf8(a));
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, storage[0].c_str(), nullptr, nullptr, argv.data(), environ) == 0) process_ = pid;
}

bool ChildProcess::Running() {
  if (process_ < 0 || ended_) return false;
  int status = 0;
  pid_t done = waitpid(static_cast<pid_t>(process_), &status, WNOHANG);
  if (done == 0) return true;
  ended_ = true;
  exitCode_ = done < 0 ? -1 : ExitCodeOf(status);
  return false;
}

int ChildProcess::Wait() {
  if (process_ < 0 || ended_) return exitCode_;
  int status = 0;
  pid_t done;
  while ((done = waitpid(static_cast<pid_t>(process_), &status, 0)) < 0 && errno == EINTR) {
  }
  ended_ = true;
  exitCode_ = done < 0 ? -1 : ExitCodeOf(status);
  return exitCode_;
}

void ChildProcess::Kill() {
  if (process_ < 0 || ended_) return;
  kill(static_cast<pid_t>(process_), SIGKILL);
  Wait();
}

}  // namespace kavenor::testing
