// Status codes posted from the reader operations to the settings window.
#pragma once

#include <cstdint>
#include <vector>

namespace kavenor {

// WM_USER + 2001; wParam is the status code, lParam 0.
constexpr uint32_t StatusMessage = 3025;

// HWND on Windows; an opaque token elsewhere.
using WindowHandle = void*;

// Posts the status code to the window without waiting. Windows: PostMessageW (a null window posts
// to the calling thread's queue). Linux: a process-wide queue that the stand-in shell drains.
void PostStatus(WindowHandle window, uint32_t code);

// Takes the codes posted so far that have not been taken yet, oldest first. Windows: the status
// messages in the calling thread's own queue (those posted to a null window). Linux: the queue.
std::vector<uint32_t> TakePostedStatuses();

// Linux: waits up to `timeoutMs` for the next posted code; false when none came. Windows: false.
bool WaitPostedStatus(uint32_t& code, uint32_t timeoutMs);

}  // namespace kavenor
