// The name is a named kernel mutex. While any instance holds a handle to it, a normal start finds it
// there and is refused. A successor opens it at once and then waits to own it: the wait ends when
// the owner's thread ends, that is when the instance that relaunched this one has gone.
#include <windows.h>

#include <thread>

#include "shell/single_instance.h"

namespace kavenor {

struct SingleInstance::State {
  HANDLE mutex = nullptr;
  HANDLE owned = nullptr;    // set once this instance owns the mutex
  HANDLE release = nullptr;  // set by the destructor: the owning thread lets go
  bool takingOver = false;
};

namespace {
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
}  // namespace

SingleInstance::SingleInstance(std::u16string name) : name_(std::move(name)), state_(std::make_shared<State>()) {}

SingleInstance::~SingleInstance() {
  if (state_->release) SetEvent(state_->release);
  if (state_->mutex && !state_->takingOver) {
    ReleaseMutex(state_->mutex);
    CloseHandle(state_->mutex);
  }
}

bool SingleInstance::Claim() {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, W(name_));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  state_->mutex = mutex;
  return true;
}

void SingleInstance::TakeOver() {
  // The handle alone keeps the name in existence, so normal starts are refused from now on.
  state_->mutex = CreateMutexW(nullptr, FALSE, W(name_));
  if (!state_->mutex) return;
  state_->owned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state_->release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state_->takingOver = true;
  // Ownership belongs to a thread: this one keeps it until the process (or the object) ends.
  std::thread([state = state_] {
    WaitForSingleObject(state->mutex, INFINITE);  // abandoned or released: ours now
    SetEvent(state->owned);
    WaitForSingleObject(state->release, INFINITE);
    ReleaseMutex(state->mutex);
    CloseHandle(state->mutex);
  }).detach();
}

bool SingleInstance::AwaitPredecessor(uint32_t timeoutMs) {
  if (!state_->takingOver) return false;
  return WaitForSingleObject(state_->owned, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace kavenor
