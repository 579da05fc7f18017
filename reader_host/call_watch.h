// The deadline on each SDK call in the reader host. A thread of its own looks once per deadline
// (20 s by default) and, when a call is under way, sleeps until that call's deadline: a call that
// has not returned by then is reported at once. The calls never wake it (that would cost every
// command a thread switch); they cost two short locks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "reader/entry_points.h"

namespace kavenor {

class CallWatch {
 public:
  // `hung` runs on the watch's thread with the number of the call (sdk::EntryPoint, or another
  // number the caller gave Begin) that has not returned within `deadlineMs`; the watch then stops.
  CallWatch(uint32_t deadlineMs, std::function<void(uint8_t call)> hung);
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  void Begin(uint8_t call);
  void End();

  // Entry points that call through this watch: each non-null one of `entries` wrapped. One driver
  // kind's table at a time: the wrappers of a kind are shared by every watch of the process.
  EntryPoints Watched(const EntryPoints& entries, DriverKind kind);

 private:
  void Loop();

  const uint32_t deadlineMs_;
  std::function<void(uint8_t)> hung_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool inCall_ = false;
  bool stopping_ = false;
  uint8_t call_ = 0;
  uint64_t callStartMs_ = 0;
  std::thread thread_;
};

}  // namespace kavenor
