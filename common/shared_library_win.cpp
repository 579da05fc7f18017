#include <windows.h>

#include "common/shared_library.h"

namespace kavenor {

std::u16string SharedLibrary::FileName(const std::u16string& base) { return base + u".dll"; }

SharedLibrary SharedLibrary::Load(const std::u16string& path) {
  SharedLibrary lib;
  lib.handle_ = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
  return lib;
}

void* SharedLibrary::Resolve(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void SharedLibrary::Free() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace kavenor
