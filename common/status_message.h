// What the reader and the service report to the program: reader outcomes and a service that could
// not start. The window takes them as posted messages; the Linux stand-in from a queue of its own.
#pragma once

#include <cstdint>
#include <functional>

namespace kavenor {

// WM_USER + 2001; wParam is the status code, lParam 0.
constexpr uint32_t StatusMessage = 3025;
// WM_USER + 2002; wParam is the port the service could not listen on, lParam 0.
constexpr uint32_t ServiceFailedMessage = 3026;

// WM_USER + 2003; the service has a question for the operator or withdraws one, taken by the window
// from a queue of its own; wParam and lParam 0.
constexpr uint32_t SiteQuestionMessage = 3027;

// The outcomes the reader operations post. Any other value is logged as an unknown error.
enum StatusCode : uint32_t {
  kStatusReadOk = 0,      // a card record was built
  kStatusAuthFailed = 1,  // the card did not authenticate
  kStatusNoDevice = 2,    // no port of the reader could be opened
  kStatusReadFailed = 3,  // the card content could not be read
  kStatusBadSamId = 6,    // the security-module number is not in its dash-separated form
  // The reader host's supervision.
  kStatusHostCrashed = 100,  // the host ended unexpectedly; a fresh one runs
  kStatusHostHung = 101,     // an SDK call did not return in time; the host was ended, a fresh one runs
  kStatusHostFailing = 102,  // the host does not start; it is tried again later
};

// Receives each outcome of a reader operation, on the reader thread; must not wait for the window.
using StatusSink = std::function<void(uint32_t code)>;

// HWND on Windows; an opaque token elsewhere.
using WindowHandle = void*;

// Posts `message` with `value` as its first parameter to the window, without waiting. Windows:
// PostMessageW (a null window posts to the calling thread's queue). Linux: a process-wide queue
// that the stand-in shell drains.
void PostToWindow(WindowHandle window, uint32_t message, uintptr_t value);

// Linux only: blocks until a message is in the queue and takes it.
struct PostedMessage {
  uint32_t message;
  uintptr_t value;
};
PostedMessage WaitPostedMessage();

}  // namespace kavenor
