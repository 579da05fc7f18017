// The reader thread: the one owner of the reader. It alone calls the drivers (and so the SDK) and
// changes the current model; it runs the commands of every connection one at a time, from one
// queue, in the order they arrive. The network thread hands it commands and never waits for it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "service/command_params.h"
#include "service/reader_backend.h"

namespace kavenor {

class ReaderThread {
 public:
  // A connection, as the network side numbers them; never reused within one run.
  using ClientId = uint64_t;
  // Takes the reply of one command, on the reader thread, valid during the call only; must hand it
  // on without waiting. Not called for a client forgotten before its command was done, nor after
  // Stop has returned.
  using ReplyFn = std::function<void(std::u16string_view reply)>;

  // The most commands one client may have unanswered (queued or running).
  static constexpr size_t kMaxPendingPerClient = 64;

  // `reader` must outlive this object and be used by no other thread while the thread runs.
  explicit ReaderThread(ReaderBackend& reader);
  ~ReaderThread();  // Stop()
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  // Starts the thread, with `model` as the current model (published in g_deviceModel). No effect
  // while it runs.
  void Start(int32_t model);

  // Any thread: the command that runs finishes (a waiting read ends before its next attempt), the
  // queued ones are dropped unanswered, and the thread ends; returns once it has. Start may follow.
  void Stop();

  // Queues `command` of `client`; its reply goes to `reply` once the client's earlier commands have
  // been answered. False, and nothing queued, when the client has kMaxPendingPerClient commands
  // unanswered already.
  bool Submit(ClientId client, const Command& command, ReplyFn reply);

  // The client has gone: its queued commands are dropped without touching the reader, its waiting
  // read ends (at once between two attempts, else when the attempt under way has finished), and
  // no reply of a command still to be done is delivered to it.
  void Forget(ClientId client);

  // Any thread: the model for every command that starts from now on; a command that runs keeps the
  // model it started with, a waiting read takes the new one from its next attempt.
  void RequestModel(int32_t model);

  // What the thread is doing: whether a command (or an attempt) runs, and how many commands wait
  // (queued, or a waiting read between two attempts).
  struct Load {
    bool running = false;
    size_t waiting = 0;
  };
  // counted: only the commands of the clients it holds true for (called with the lock held); a
  // command whose client has gone counts only without it.
  Load CurrentLoad(const std::function<bool(ClientId)>& counted = {}) const;

 private:
  struct Job {
    ClientId client = 0;
    Command command;
    ReplyFn reply;
    // A waiting read: when it began, when the next attempt is due.
    std::optional<uint64_t> startMs;
    uint64_t dueMs = 0;
  };

  void Loop();
  // Runs one step of `job` with `model`: a whole command, or one attempt of a waiting read. The
  // reply when the job is done, nullopt when a waiting read goes on.
  std::optional<std::u16string_view> Step(Job& job, int32_t model);
  // Under the lock: the job of `client` is over; its next held command becomes ready.
  void Finished(ClientId client);
  void ApplyRequestedModel();
  void WakeDueWaits(uint64_t now);

  ReaderBackend& backend_;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;   // the thread runs
  bool stopping_ = false;
  int32_t model_ = 0;
  std::optional<int32_t> requestedModel_;
  std::deque<Job> ready_;                         // runnable, in the order they became so
  std::vector<Job> sleeping_;                     // waiting reads between two attempts
  std::map<ClientId, std::deque<Job>> held_;      // behind an unanswered command of the same client
  std::map<ClientId, size_t> pending_;            // unanswered commands per client
  std::optional<ClientId> busyWith_;              // the client whose step runs
  bool busyClientGone_ = false;
};

}  // namespace kavenor
