#include <windows.h>

#include "common/status_message.h"

namespace kavenor {

void PostStatus(WindowHandle window, uint32_t code) {
  PostMessageW(static_cast<HWND>(window), StatusMessage, static_cast<WPARAM>(code), 0);
}

std::vector<uint32_t> TakePostedStatuses() {
  std::vector<uint32_t> out;
  MSG msg;
  // (HWND)-1: only the messages posted to the thread itself, i.e. to a null window.
  while (PeekMessageW(&msg, reinterpret_cast<HWND>(-1), StatusMessage, StatusMessage, PM_REMOVE))
    out.push_back(static_cast<uint32_t>(msg.wParam));
  return out;
}

bool WaitPostedStatus(uint32_t&, uint32_t) { return false; }

}  // namespace kavenor
