#include <windows.h>

#include "common/status_message.h"

namespace kavenor {

void PostToWindow(WindowHandle window, uint32_t message, uintptr_t value) {
  PostMessageW(static_cast<HWND>(window), message, static_cast<WPARAM>(value), 0);
}

}  // namespace kavenor
