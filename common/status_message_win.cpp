#include <windows.h>

#include "common/status_message.h"

namespace kavenor {

void PostToWindow(WindowHandle window, uint32_t message, uintptr_t value) {
  PostMessageW(static_cast<HWND>(window), message, static_cast<WPARAM>(value), 0);
}

std::vector<uint32_t> TakePostedStatuses() {
  std::vector<uint32_t> out;
  MSG msg;
  // (HWND)-1: only the messages posted to the thread itself, i.e. to a null window.
  while (PeekMessageW(&msg, reinterpret_cast<HWND>(-1), StatusMessage, StatusMessage, PM_REMOVE))
    out.push_back(static_cast<uint32_t>(msg.wParam));
  return out;
}

}  // namespace kavenor
