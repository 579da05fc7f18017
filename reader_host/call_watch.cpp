#include "reader_host/call_watch.h"

#include <chrono>

#include "common/clock.h"

namespace kavenor {
namespace {

// The watch the wrappers report to: one per process (the host has one).
CallWatch* g_watch = nullptr;

// Each entry point of each driver kind gets a wrapper of its own type and calling convention,
// which holds the library's function and reports the call to the watch.
template <DriverKind Kind, sdk::EntryPoint Entry, typename Fn>
struct Wrapper;

template <DriverKind Kind, sdk::EntryPoint Entry, typename... Args>
struct Wrapper<Kind, Entry, int(KADREL_CALL*)(Args...)> {
  static inline int(KADREL_CALL* library)(Args...) = nullptr;
  static int KADREL_CALL Call(Args... args) {
    g_watch->Begin(static_cast<uint8_t>(Entry));
    const int result = library(args...);
    g_watch->End();
    return result;
  }
};

template <DriverKind Kind>
EntryPoints Wrap(const EntryPoints& e) {
  EntryPoints w;
#define KADREL_WRAP(name, type, drivers)                                       \
  if (e.name) {                                                                \
    using W = Wrapper<Kind, sdk::EntryPoint::name, sdk::type>;                 \
    W::library = e.name;                                                       \
    w.name = &W::Call;                                                         \
  }
  KADREL_ENTRY_POINTS(KADREL_WRAP)
#undef KADREL_WRAP
  return w;
}

}  // namespace

CallWatch::CallWatch(uint32_t deadlineMs, std::function<void(uint8_t)> hung)
    : deadlineMs_(deadlineMs), hung_(std::move(hung)) {
  g_watch = this;
  thread_ = std::thread([this] { Loop(); });
}

CallWatch::~CallWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (g_watch == this) g_watch = nullptr;
}

void CallWatch::Begin(uint8_t call) {
  std::lock_guard<std::mutex> lock(mutex_);
  inCall_ = true;
  call_ = call;
  callStartMs_ = TickCountMs();
}

void CallWatch::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  inCall_ = false;
}

EntryPoints CallWatch::Watched(const EntryPoints& entries, DriverKind kind) {
  switch (kind) {
    case DriverKind::k5A: return Wrap<DriverKind::k5A>(entries);
    case DriverKind::k5U: return Wrap<DriverKind::k5U>(entries);
    case DriverKind::k5ULN: return Wrap<DriverKind::k5ULN>(entries);
  }
  return entries;
}

void CallWatch::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!inCall_) {
      // A call that begins meanwhile is seen within one deadline of its start, in time for it.
      changed_.wait_for(lock, std::chrono::milliseconds(deadlineMs_));
      continue;
    }
    // A later call has a later deadline: waking at this one's is never late for the next.
    const uint64_t dueMs = callStartMs_ + deadlineMs_, now = TickCountMs();
    if (now >= dueMs) {
      const uint8_t call = call_;
      lock.unlock();
      hung_(call);
      return;
    }
    changed_.wait_for(lock, std::chrono::milliseconds(dueMs - now));
  }
}

}  // namespace kavenor
