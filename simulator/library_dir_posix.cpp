#include <dlfcn.h>

#include <cstdlib>

#include "common/text.h"
#include "simulator/library_dir.h"

namespace kavenor::sim {
namespace {

// Any function of this library: dladdr maps its address to the file it was loaded from.
void Anchor() {}

}  // namespace

std::u16string LibraryDir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Anchor), &info) == 0 || info.dli_fname == nullptr) return {};
  std::string path = info.dli_fname;
  // A copy loaded by a relative path still names its folder after the caller changes directory.
  if (char* real = realpath(path.c_str(), nullptr)) {
    path = real;
    free(real);
  }
  size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? std::u16string() : Utf8ToUtf16(path.substr(0, cut));
}

}  // namespace kavenor::sim
