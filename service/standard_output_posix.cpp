#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service/standard_output.h"

namespace kavenor {

bool StandardOutputAttached() {
  struct stat out {}, null {};
  if (fstat(STDOUT_FILENO, &out) != 0) return false;
  // /dev/null stands in for a closed descriptor (the program opens it there at start).
  return !(stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev && S_ISCHR(out.st_mode));
}

}  // namespace kavenor
