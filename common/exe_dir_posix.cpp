#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
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

std::u16string ModulePathContaining(const void* address) {
  Dl_info info{};
  link_map* module = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0 || module == nullptr)
    return {};
  // The executable has no name of its own in the loader's list; dladdr would give argv[0].
  if (module->l_name == nullptr || module->l_name[0] == '\0') return GetModulePath();
  std::string path = module->l_name;
  // Absolute, so that a library loaded by a relative path is still found after a change of directory.
  if (char* real = realpath(path.c_str(), nullptr)) {
    path = real;
    free(real);
  }
  return Utf8ToUtf16(path);
}

std::u16string GetExeDir() {
  std::u16string path = GetModulePath();
  size_t cut = path.find_last_of(kPathSeparator);
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

}  // namespace kavenor
