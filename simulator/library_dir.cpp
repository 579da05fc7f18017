#include "simulator/library_dir.h"

#include "common/exe_dir.h"

namespace kavenor::sim {
namespace {

// Any function of this library: its address names the file this copy was loaded from.
void Anchor() {}

}  // namespace

std::u16string LibraryDir() {
  const std::u16string path = ModulePathContaining(reinterpret_cast<const void*>(&Anchor));
  const size_t cut = path.find_last_of(kPathSeparator);
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

std::u16string BesideLibrary(const std::u16string& name) {
  const std::u16string dir = LibraryDir();
  return dir.empty() ? name : JoinPath(dir, name);
}

}  // namespace kavenor::sim
