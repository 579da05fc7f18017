// The single-instance name "Kavenor": a named kernel mutex on Windows, an abstract Unix socket
// elsewhere. The process holds it until it ends; the system releases it then.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kavenor {

class SingleInstance {
 public:
  // `name`: "Kavenor" in the program; tests use names of their own.
  explicit SingleInstance(std::u16string name);
  ~SingleInstance();  // releases the name (the program never does; its end does)
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // A normal start: takes the name; false when another instance holds it.
  bool Claim();

  // A relaunch: takes the name over in the background as soon as the instance that started this
  // one has ended; does not wait. Until then a normal start is refused by that instance.
  void TakeOver();

  // After TakeOver: blocks until the name is this instance's (the predecessor has ended) and
  // returns true, or false once `timeoutMs` have passed without. Without TakeOver: false at once.
  bool AwaitPredecessor(uint32_t timeoutMs);

 private:
  struct State;
  std::u16string name_;
  std::shared_ptr<State> state_;  // shared with the take-over thread, which may outlive this object
};

}  // namespace kavenor
