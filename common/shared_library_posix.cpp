#include <dlfcn.h>

#include "common/shared_library.h"
#include "common/text.h"

namespace kavenor {

std::u16string SharedLibrary::FileName(const std::u16string& base) { return u"lib" + base + u".so"; }

SharedLibrary SharedLibrary::Load(const std::u16string& path) {
  SharedLibrary lib;
  lib.handle_ = dlopen(Utf16ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  return lib;
}

void* SharedLibrary::Resolve(const char* name) const {
  return handle_ ? dlsym(handle_, name) : nullptr;
}

void SharedLibrary::Free() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace kavenor
