// The name is an abstract Unix socket: bound and listening while the instance runs, released by the
// kernel when the process ends. A successor connects to it and learns of that end from the hang-up.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/clock.h"
#include "common/text.h"
#include "shell/single_instance.h"

namespace kavenor {

struct SingleInstance::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool takingOver = false;
  bool held = false;
  bool released = false;  // the object is gone: a late take-over lets go at once
  int fd = -1;
};

namespace {

socklen_t AbstractAddress(const std::u16string& name, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::string bytes = Utf16ToUtf8(name).substr(0, sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, bytes.data(), bytes.size());  // sun_path[0] = 0: abstract
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + bytes.size());
}

enum class BindResult { kBound, kInUse, kFailed };

// Binds and listens on the name; the descriptor in `fd` when bound.
BindResult BindName(const std::u16string& name, int& fd) {
  sockaddr_un address;
  socklen_t length = AbstractAddress(name, address);
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return BindResult::kFailed;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    int error = errno;
    close(s);
    return error == EADDRINUSE ? BindResult::kInUse : BindResult::kFailed;
  }
  listen(s, 16);
  fd = s;
  return BindResult::kBound;
}

// Returns when whoever holds the name lets go of it: its socket hangs up our queued connection.
void WaitForHolderToEnd(const std::u16string& name) {
  sockaddr_un address;
  socklen_t length = AbstractAddress(name, address);
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return SleepMs(100);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), length) == 0) {
    pollfd p{s, POLLIN | POLLRDHUP, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
  } else {
    SleepMs(100);  // bound but not listening yet, or its queue is full: look again shortly
  }
  close(s);
}

}  // namespace

SingleInstance::SingleInstance(std::u16string name) : name_(std::move(name)), state_(std::make_shared<State>()) {}

SingleInstance::~SingleInstance() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->released = true;
  if (state_->fd >= 0) close(state_->fd);
  state_->fd = -1;
}

bool SingleInstance::Claim() {
  int fd = -1;
  BindResult result = BindName(name_, fd);
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->fd = fd;
  state_->held = result == BindResult::kBound;
  // Only a name held by another instance refuses the start; a failure to check lets it run.
  return result != BindResult::kInUse;
}

void SingleInstance::TakeOver() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->takingOver = true;
  }
  std::thread([state = state_, name = name_] {
    for (;;) {
      int fd = -1;
      BindResult result = BindName(name, fd);
      if (result != BindResult::kInUse) {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->released && fd >= 0) close(fd);
        else state->fd = fd;
        state->held = result == BindResult::kBound;
        state->takingOver = false;
        state->changed.notify_all();
        return;
      }
      WaitForHolderToEnd(name);
    }
  }).detach();
}

bool SingleInstance::AwaitPredecessor(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (!state_->takingOver) return false;
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !state_->takingOver; });
}

}  // namespace kavenor
