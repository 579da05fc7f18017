#include <windows.h>

#include <vector>

#include "simulator/library_dir.h"

namespace kavenor::sim {
namespace {

// Any function of this library: its address names the module it was loaded from.
void Anchor() {}

}  // namespace

std::u16string LibraryDir() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&Anchor), &self)) {
    return {};
  }
  std::vector<wchar_t> buf(MAX_PATH);
  std::wstring path;
  for (;;) {
    DWORD n = GetModuleFileNameW(self, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      path.assign(buf.data(), n);
      break;
    }
    if (buf.size() >= 65536) return {};
    buf.resize(buf.size() * 2);
  }
  size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return {};
  return std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(cut));
}

}  // namespace kavenor::sim
