#include <windows.h>

#include "common/startup_message.h"

namespace kavenor {

void ShowStartupMessage(const std::u16string& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), L"", MB_OK);
}

}  // namespace kavenor
