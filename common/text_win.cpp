#include <windows.h>

#include "common/text.h"

namespace kavenor {

std::u16string AnsiToUtf16(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string Utf16ToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_THREAD_ACP, 0, w, static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

}  // namespace kavenor
