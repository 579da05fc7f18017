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

std::vector<uint32_t> TakePostedStatuses() {
  MessageQueue& q = Queue();
  std::lock_guard<std::mutex> lock(q.mutex);
  std::vector<uint32_t> out;
  std::deque<PostedMessage> others;
  for (const PostedMessage& m : q.messages) {
    if (m.message == StatusMessage)
      out.push_back(static_cast<uint32_t>(m.value));
    else
      others.push_back(m);
  }
  q.messages.swap(others);
  return out;
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
