#include <windows.h>

#include <mutex>
#include <vector>

#include "common/settings.h"

namespace kavenor {
namespace {
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
}  // namespace

int32_t ReadSettingInt(const std::u16string& section, const std::u16string& key, int32_t fallback,
                       const std::u16string& path) {
  return static_cast<int32_t>(GetPrivateProfileIntW(W(section), W(key), fallback, W(path)));
}

std::u16string ReadSettingString(const std::u16string& section, const std::u16string& key,
                                 const std::u16string& fallback, const std::u16string& path,
                                 size_t capacity) {
  if (capacity == 0) return {};
  std::vector<wchar_t> buf(capacity, L'\0');
  DWORD n = GetPrivateProfileStringW(W(section), W(key), W(fallback), buf.data(),
                                     static_cast<DWORD>(capacity), W(path));
  return std::u16string(reinterpret_cast<const char16_t*>(buf.data()), n);
}

bool WriteSettingString(const std::u16string& section, const std::u16string& key,
                        const std::u16string& value, const std::u16string& path) {
  // One writer at a time in the process, as on Linux; the system's own locking is not ours to rely on.
  static std::mutex oneWriter;
  std::lock_guard<std::mutex> lock(oneWriter);
  return WritePrivateProfileStringW(W(section), W(key), W(value), W(path)) != FALSE;
}

}  // namespace kavenor
