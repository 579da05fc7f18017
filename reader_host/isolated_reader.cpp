#include "reader_host/isolated_reader.h"

#include <algorithm>
#include <iostream>

#include "common/clock.h"
#include "common/reply_texts.h"
#include "common/settings.h"
#include "common/settings_keys.h"
#include "common/text.h"
#include "reader/reader_driver.h"
#include "reader_host/host_frames.h"
#include "service/command_dispatch.h"

namespace kavenor {
namespace {

// The frames other than a reply are a few bytes.
constexpr uint32_t kMostSmallFrameBytes = 64;

std::optional<std::string> ReadSmallPayload(HostChannel& channel, const FrameHead& head) {
  if (head.payloadBytes > kMostSmallFrameBytes) return std::nullopt;
  std::string payload(head.payloadBytes, '\0');
  if (!channel.Read(payload.data(), payload.size())) return std::nullopt;
  return payload;
}

std::string CallName(uint8_t call) {
  return call == kLoading ? std::string("loading the libraries") : sdk::EntryPointName(static_cast<sdk::EntryPoint>(call));
}

}  // namespace

IsolatedReader::IsolatedReader(HostSettings settings, const MessageSink& report) : settings_(std::move(settings)) {
  if (!StartHost() || !report) return;
  for (const std::atomic<bool>& loaded : loaded_)
    if (!loaded) report(kLibraryLoadFailed);
}

IsolatedReader::~IsolatedReader() { EndHost(); }

std::array<bool, 3> IsolatedReader::LibrariesLoaded() const { return {loaded_[0], loaded_[1], loaded_[2]}; }

void IsolatedReader::SetStatusSink(StatusSink sink) {
  sink_ = std::move(sink);
  // A host that failed at the program's start is told as soon as there is a log to tell.
  if (startFailures_ > 0) Post(kStatusHostFailing);
}

bool IsolatedReader::StartHost() {
  const std::vector<std::string> arguments = {"--call-timeout-ms", std::to_string(settings_.callTimeoutMs)};
  host_ = StartHostProcess(settings_.executable, arguments);
  bool ready = false;
  if (host_) {
    startedBy_ = std::this_thread::get_id();
    hostId_ = host_->process.id();
    // The first frame says which libraries loaded; anything else is a host that failed to start.
    if (std::optional<FrameHead> head = ReadFrameHead(host_->channel)) {
      std::optional<std::string> payload = ReadSmallPayload(host_->channel, *head);
      std::array<bool, 3> loaded{};
      if (payload && head->kind == FrameKind::kReady && DecodeLoaded(*payload, loaded)) {
        for (size_t i = 0; i < loaded.size(); ++i) loaded_[i] = loaded[i];
        ready = true;
      } else if (payload && head->kind == FrameKind::kHung && payload->size() == 1) {
        std::cout << "The reader host did not start: " << CallName(static_cast<uint8_t>((*payload)[0]))
                  << " took more than " << settings_.callTimeoutMs << " ms" << std::endl;
        host_->process.Kill();
      }
    }
  }
  if (ready) {
    std::cout << "The reader host runs: process " << hostId_ << std::endl;
    startFailures_ = 0;
    return true;
  }
  EndHost();
  const uint32_t doublings = std::min<uint32_t>(startFailures_++, 16);
  const uint64_t backOffMs = std::min<uint64_t>(uint64_t{settings_.firstBackOffMs} << doublings, settings_.longestBackOffMs);
  nextStartMs_ = TickCountMs() + backOffMs;
  std::cout << "The reader host did not start (" << startFailures_ << " in a row); next try in " << backOffMs << " ms"
            << std::endl;
  // Once for the whole run of failures, not once per try.
  if (startFailures_ == 1) Post(kStatusHostFailing);
  return false;
}

void IsolatedReader::EndHost() {
  if (!host_) return;
  host_->channel.Close();
  // A host between two commands reads the end of the channel and ends: its libraries unload.
  if (!host_->process.WaitMs(settings_.callTimeoutMs)) {
    host_->process.Kill();
    host_->process.WaitMs(settings_.callTimeoutMs);
  }
  host_.reset();
  hostId_ = -1;
}

IsolatedReader::Outcome IsolatedReader::Exchange(const Command& command, int32_t model,
                                                 std::optional<std::u16string_view>& reply) {
  const std::string run = EncodeRun(command, model);
  if (!SendFrame(host_->channel, FrameKind::kRun, run.data(), run.size())) return Outcome::kCrashed;
  for (;;) {
    std::optional<FrameHead> head = ReadFrameHead(host_->channel);
    if (!head) return Outcome::kCrashed;
    if (head->kind == FrameKind::kReply)
      return ReadReply(host_->channel, head->payloadBytes, received_, reply) ? Outcome::kReplied : Outcome::kCrashed;
    std::optional<std::string> payload = ReadSmallPayload(host_->channel, *head);
    uint32_t code = 0;
    if (payload && head->kind == FrameKind::kStatus && DecodeU32(*payload, code)) {
      Post(code);
    } else if (payload && head->kind == FrameKind::kHung && payload->size() == 1) {
      std::cout << "The reader host was ended: " << CallName(static_cast<uint8_t>((*payload)[0]))
                << " did not return within " << settings_.callTimeoutMs << " ms" << std::endl;
      return Outcome::kHung;
    } else {
      return Outcome::kCrashed;
    }
  }
}

std::optional<std::u16string_view> IsolatedReader::Run(const Command& command, int32_t model) {
  if (host_ && !host_->process.IsRunning()) {
    // Ended between two commands (from outside): this command runs in a fresh host.
    std::cout << "The reader host ended between two commands" << std::endl;
    EndHost();
    pendingLine_ = kStatusHostCrashed;
  }
  if (!host_) {
    if (startFailures_ > 0 && TickCountMs() < nextStartMs_) return texts::kNoDevice;
    if (!StartHost()) return texts::kNoDevice;
    if (pendingLine_) Post(std::exchange(pendingLine_, 0));
  }
  std::optional<std::u16string_view> reply;
  switch (Exchange(command, model, reply)) {
    case Outcome::kReplied: return reply;
    case Outcome::kCrashed:
      std::cout << "The reader host ended during command " << static_cast<uint32_t>(command.code) << std::endl;
      pendingLine_ = kStatusHostCrashed;
      break;
    case Outcome::kHung:
      host_->process.Kill();
      pendingLine_ = kStatusHostHung;
      break;
  }
  EndHost();
  // The same text as when the SDK call fails; a fresh host is started once the reply is on its way.
  return FailureText(command.code);
}

void IsolatedReader::Recover() {
  std::u16string().swap(received_);
  if (host_ || !pendingLine_ || startFailures_ > 0) return;
  if (StartHost()) Post(std::exchange(pendingLine_, 0));
}

std::unique_ptr<ReaderBackend> StartReader(const std::u16string& moduleDir, const MessageSink& report) {
  const std::u16string settingsPath = moduleDir + kSettingsFileName;
  if (ReadSetting(kIsolatedSetting, settingsPath) == 0) return std::make_unique<InProcessReader>(moduleDir, report);
  HostSettings settings;
  settings.executable = moduleDir + kHostExecutableName;
  const int32_t callTimeoutMs = ReadSetting(kCallTimeoutSetting, settingsPath);
  if (callTimeoutMs > 0) settings.callTimeoutMs = static_cast<uint32_t>(callTimeoutMs);
  return std::make_unique<IsolatedReader>(std::move(settings), report);
}

void IsolatedReader::ThreadEnds() {
  // On Linux a host ends with the thread that started it; it is ended in order before.
  if (host_ && startedBy_ == std::this_thread::get_id()) EndHost();
}

}  // namespace kavenor
