#include <windows.h>

#include <vector>

#include "common/exe_dir.h"

namespace kavenor {

const char16_t kPathSeparator = u'\\';

namespace {

// Calls a Windows path function that reports the size it needs, with a buffer that grows until the
// whole result fits; never a truncated path.
template <typename Call>
std::wstring GrowingCall(Call call, size_t first) {
  std::vector<wchar_t> buf(first);
  for (int tries = 0; tries < 8; ++tries) {
    DWORD n = call(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::wstring(buf.data(), n);
    buf.assign(n + 1 > buf.size() * 2 ? n + 1 : buf.size() * 2, L'\0');
  }
  return {};
}

std::u16string ToU16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }

// nullptr: the executable.
std::wstring ModuleFileName(HMODULE module) {
  return GrowingCall([module](wchar_t* b, DWORD n) { return GetModuleFileNameW(module, b, n); }, MAX_PATH);
}

}  // namespace

std::u16string GetModulePath() { return ToU16(ModuleFileName(nullptr)); }

std::u16string ModulePathContaining(const void* address) {
  HMODULE module = nullptr;
  // No reference taken: the caller's own code keeps its module loaded.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module))
    return {};
  return ToU16(ModuleFileName(module));
}

std::u16string GetExeDir() {
  std::wstring full = ModuleFileName(nullptr);
  // Short form and back to the long form: the directory as the file system spells it.
  std::wstring shortForm =
      GrowingCall([&](wchar_t* b, DWORD n) { return GetShortPathNameW(full.c_str(), b, n); }, 200);
  std::wstring longForm = shortForm.empty()
      ? full
      : GrowingCall([&](wchar_t* b, DWORD n) { return GetLongPathNameW(shortForm.c_str(), b, n); }, 200);
  if (longForm.empty()) longForm = full;
  size_t cut = longForm.find_last_of(L'\\');
  return cut == std::wstring::npos ? std::u16string() : ToU16(longForm.substr(0, cut));
}

}  // namespace kavenor
