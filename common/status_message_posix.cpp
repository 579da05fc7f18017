#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "common/status_message.h"

namespace kavenor {
namespace {

struct StatusQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<uint32_t> codes;
};

StatusQueue& Queue() {
  static StatusQueue queue;
  return queue;
}

}  // namespace

void PostStatus(WindowHandle, uint32_t code) {
  StatusQueue& q = Queue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.codes.push_back(code);
  }
  q.ready.notify_one();
}

std::vector<uint32_t> TakePostedStatuses() {
  StatusQueue& q = Queue();
  std::lock_guard<std::mutex> lock(q.mutex);
  std::vector<uint32_t> out(q.codes.begin(), q.codes.end());
  q.codes.clear();
  return out;
}

bool WaitPostedStatus(uint32_t& code, uint32_t timeoutMs) {
  StatusQueue& q = Queue();
  std::unique_lock<std::mutex> lock(q.mutex);
  if (!q.ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.codes.empty(); }))
    return false;
  code = q.codes.front();
  q.codes.pop_front();
  return true;
}

}  // namespace kavenor
