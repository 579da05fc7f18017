#include <condition_variable>
#include <deque>
#include <mutex>

#include "common/status_message.h"

namespace kavenor {
namespace {

struct MessageQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<PostedMessage> messages;
};

MessageQueue& Queue() {
  static MessageQueue queue;
  return queue;
}

}  // namespace

void PostToWindow(WindowHandle, uint32_t message, uintptr_t value) {
  MessageQueue& q = Queue();
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.messages.push_back({message, value});
  }
  q.ready.notify_one();
}

PostedMessage WaitPostedMessage() {
  MessageQueue& q = Queue();
  std::unique_lock<std::mutex> lock(q.mutex);
  q.ready.wait(lock, [&] { return !q.messages.empty(); });
  PostedMessage m = q.messages.front();
  q.messages.pop_front();
  return m;
}

}  // namespace kavenor
