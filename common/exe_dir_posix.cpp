#include <unistd.h>

#include <vector>

#include "common/exe_dir.h"
#include "common/text.h"

namespace kavenor {

const char16_t kPathSeparator = u'/';

std::u16string GetModulePath() {
  // readlink does not say how long the target is: grow the buffer until it fits.
  for (size_t size = 256;; size *= 2) {
    std::vector<char> buf(size);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return Utf8ToUtf16(std::string(buf.data(), static_cast<size_t>(n)));
  }
}

std::u16string GetExeDir() {
  std::u16string path = GetModulePath();
  size_t cut = path.find_last_of(kPathSeparator);
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

}  // namespace kavenor
