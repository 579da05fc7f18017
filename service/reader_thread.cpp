#include "service/reader_thread.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iostream>
#include <utility>

#include "common/clock.h"
#include "common/device_model.h"
#include "common/reply_texts.h"
#include "common/text.h"
#include "service/command_dispatch.h"

namespace kavenor {
namespace {

std::string ExceptionText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "other exception";
  }
}

}  // namespace

ReaderThread::ReaderThread(ReaderBackend& reader) : backend_(reader) {}

ReaderThread::~ReaderThread() { Stop(); }

void ReaderThread::Start(int32_t model) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) return;
  model_ = model;
  requestedModel_.reset();
  SetDeviceModel(model);
  stopping_ = false;
  running_ = true;
  thread_ = std::thread([this] { Loop(); });
}

void ReaderThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  ready_.clear();
  sleeping_.clear();
  held_.clear();
  pending_.clear();
}

bool ReaderThread::Submit(ClientId client, const Command& command, ReplyFn reply) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t& pending = pending_[client];
    if (pending >= kMaxPendingPerClient) return false;
    Job job;
    job.client = client;
    job.command = command;
    job.reply = std::move(reply);
    // One command of a client at a time, so that its replies keep the order of its commands.
    if (pending++ == 0)
      ready_.push_back(std::move(job));
    else
      held_[client].push_back(std::move(job));
  }
  changed_.notify_one();
  return true;
}

void ReaderThread::Forget(ClientId client) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto ofClient = [client](const Job& job) { return job.client == client; };
  auto begunWait = [client](const Job& job) { return job.client == client && job.startMs.has_value(); };
  if (std::any_of(sleeping_.begin(), sleeping_.end(), begunWait) || std::any_of(ready_.begin(), ready_.end(), begunWait))
    std::cout << "The waiting read ends: its client has gone" << std::endl;
  ready_.erase(std::remove_if(ready_.begin(), ready_.end(), ofClient), ready_.end());
  sleeping_.erase(std::remove_if(sleeping_.begin(), sleeping_.end(), ofClient), sleeping_.end());
  held_.erase(client);
  pending_.erase(client);
  if (busyWith_ == client) busyClientGone_ = true;
}

void ReaderThread::RequestModel(int32_t model) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
      model_ = model;
      SetDeviceModel(model);
      return;
    }
    requestedModel_ = model;
  }
  changed_.notify_one();
}

ReaderThread::Load ReaderThread::CurrentLoad(const std::function<bool(ClientId)>& counted) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto counts = [&counted](ClientId client) { return !counted || counted(client); };
  Load load;
  for (const auto& [client, count] : pending_)
    if (counts(client)) load.waiting += count;
  // The running command is among its client's unanswered ones, unless that client has gone.
  const bool runningCounted = busyWith_ && !busyClientGone_ && counts(*busyWith_);
  load.running = busyWith_ && (counted ? runningCounted : true);
  if (runningCounted && load.waiting > 0) --load.waiting;
  return load;
}

void ReaderThread::ApplyRequestedModel() {
  if (!requestedModel_) return;
  model_ = *requestedModel_;
  requestedModel_.reset();
  SetDeviceModel(model_);
}

void ReaderThread::WakeDueWaits(uint64_t now) {
  std::sort(sleeping_.begin(), sleeping_.end(), [](const Job& a, const Job& b) { return a.dueMs < b.dueMs; });
  auto due = std::find_if(sleeping_.begin(), sleeping_.end(), [now](const Job& job) { return job.dueMs > now; });
  for (auto it = sleeping_.begin(); it != due; ++it) ready_.push_back(std::move(*it));
  sleeping_.erase(sleeping_.begin(), due);
}

void ReaderThread::Finished(ClientId client) {
  auto pending = pending_.find(client);
  if (pending == pending_.end()) return;
  if (--pending->second == 0) {
    pending_.erase(pending);
    return;
  }
  auto held = held_.find(client);
  if (held == held_.end() || held->second.empty()) return;
  ready_.push_back(std::move(held->second.front()));
  held->second.pop_front();
  if (held->second.empty()) held_.erase(held);
}

void ReaderThread::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool stepped = false;
  for (;;) {
    if (std::exchange(stepped, false)) {
      // Between two steps, without the lock: the network side queues meanwhile.
      lock.unlock();
      backend_.Recover();
      lock.lock();
    }
    // A model change takes effect between two steps, never within one.
    ApplyRequestedModel();
    if (stopping_) {
      lock.unlock();
      backend_.ThreadEnds();
      return;
    }
    const uint64_t now = TickCountMs();
    WakeDueWaits(now);
    if (ready_.empty()) {
      // Asleep until a command comes or a waiting read's next attempt is due: no polling.
      if (sleeping_.empty())
        changed_.wait(lock);
      else  // sorted by WakeDueWaits: the first is due first
        changed_.wait_for(lock, std::chrono::milliseconds(sleeping_.front().dueMs - now));
      continue;
    }
    Job job = std::move(ready_.front());
    ready_.pop_front();
    busyWith_ = job.client;
    busyClientGone_ = false;
    const int32_t model = model_;
    lock.unlock();
    std::optional<std::u16string_view> reply = Step(job, model);
    stepped = true;
    lock.lock();
    const bool gone = busyClientGone_;
    busyWith_.reset();
    if (gone) {
      // Also when this last attempt read a card: nobody is left to take it.
      if (job.command.code == CommandCode::kWaitingRead)
        std::cout << "The waiting read ends: its client has gone" << std::endl;
      continue;  // forgotten: nothing of it is left to release
    }
    if (!reply) {
      job.dueMs = TickCountMs() + kAttemptPauseMs;
      sleeping_.push_back(std::move(job));
      continue;
    }
    Finished(job.client);
    // Handed on without the lock, so that the network thread can queue meanwhile; a client
    // forgotten in this moment finds its connection gone when the reply is sent.
    lock.unlock();
    try {
      job.reply(*reply);
    } catch (...) {
      std::cout << "A reply could not be handed on: " << ExceptionText(std::current_exception()) << std::endl;
    }
    lock.lock();
  }
}

std::optional<std::u16string_view> ReaderThread::Step(Job& job, int32_t model) {
  try {
    if (job.command.code != CommandCode::kWaitingRead) return backend_.Run(job.command, model).value_or(u"");
    // The test comes before each attempt: a time-out of 0 makes none, and an attempt begun before
    // the deadline is finished.
    const uint64_t now = TickCountMs();
    if (!job.startMs) job.startMs = now;
    if (now - *job.startMs >= static_cast<uint64_t>(job.command.timeoutMs)) return texts::kWaitExpired;
    const std::optional<std::u16string_view> attempt = backend_.Run(job.command, model);
    if (attempt && IsCardRecord(*attempt)) return attempt;
    return std::nullopt;
  } catch (...) {
    // Answered all the same, with the text the operation gives when the reader fails it.
    std::cout << "Command " << static_cast<uint32_t>(job.command.code)
              << " failed: " << ExceptionText(std::current_exception()) << std::endl;
    return FailureText(job.command.code);
  }
}

}  // namespace kavenor
