#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "common/line_output.h"

namespace kavenor {

void WriteStandardStream(StdStream stream, const char* bytes, size_t size) {
  static std::mutex mutex;
  const int fd = stream == StdStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  std::lock_guard<std::mutex> lock(mutex);
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to write: the line is dropped, the program goes on
    bytes += n;
    size -= static_cast<size_t>(n);
  }
}

bool StandardOutputAttached() {
  struct stat out {}, null {};
  if (fstat(STDOUT_FILENO, &out) != 0) return false;
  // /dev/null stands in for a closed descriptor (the program opens it there at start).
  return !(stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev && S_ISCHR(out.st_mode));
}

}  // namespace kavenor
