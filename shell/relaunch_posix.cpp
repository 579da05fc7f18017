#include <signal.h>
#include <spawn.h>

#include "common/text.h"
#include "shell/relaunch.h"

extern char** environ;

namespace kavenor {

bool StartProgram(const std::u16string& programPath) {
  const std::string path = Utf16ToUtf8(programPath);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // Nothing but the standard streams: the listening socket and the instance name stay with us and
  // go when we end.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  int result = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result == 0;
}

}  // namespace kavenor
