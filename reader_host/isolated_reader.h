// The SDK in the reader host: the program's side of it, which starts the host, hands it one
// command at a time and supervises it. A host that crashes or whose call hangs is ended and the
// command answers its failure text; the next command runs in a fresh host. A host that keeps
// failing as it starts is tried again after a pause that doubles up to 30 s, and the commands
// meanwhile answer "连接设备失败" at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "reader_host/host_process.h"
#include "service/reader_backend.h"

namespace kavenor {

struct HostSettings {
  std::u16string executable;  // the host's executable
  uint32_t callTimeoutMs = 20000;
  uint32_t firstBackOffMs = 1000;
  uint32_t longestBackOffMs = 30000;
};

class IsolatedReader : public ReaderBackend {
 public:
  // Starts the host and waits for its report of the libraries; `report` shows the message of each
  // one that did not load, in driver order.
  IsolatedReader(HostSettings settings, const MessageSink& report);
  // Closes the channel: the host ends once the command it runs (none, normally) is done.
  ~IsolatedReader() override;

  std::array<bool, 3> LibrariesLoaded() const override;
  void SetStatusSink(StatusSink sink) override;
  std::optional<std::u16string_view> Run(const Command& command, int32_t model) override;
  void Recover() override;
  void ThreadEnds() override;

  // The host's process id, -1 when none runs; for tests.
  int64_t hostId() const { return hostId_; }

 private:
  enum class Outcome { kReplied, kCrashed, kHung };
  // A fresh host, ready; false when it cannot start (the back-off then runs).
  bool StartHost();
  void EndHost();
  // What the host did with a command: its reply, or how it failed.
  Outcome Exchange(const Command& command, int32_t model, std::optional<std::u16string_view>& reply);
  void Post(uint32_t code) {
    if (sink_) sink_(code);
  }

  HostSettings settings_;
  StatusSink sink_;
  std::optional<StartedHost> host_;
  std::u16string received_;  // a short reply, lent until the next command
  std::thread::id startedBy_;
  std::atomic<int64_t> hostId_{-1};
  std::array<std::atomic<bool>, 3> loaded_{};
  // The line to log once a fresh host replaces one that failed (0: none).
  uint32_t pendingLine_ = 0;
  uint32_t startFailures_ = 0;
  uint64_t nextStartMs_ = 0;
};

// The reader of the program in `moduleDir` (with a trailing separator): in the reader host beside
// the executable, or with [Reader] Isolated=0 in Config.ini in this process.
std::unique_ptr<ReaderBackend> StartReader(const std::u16string& moduleDir, const MessageSink& report);

}  // namespace kavenor
