// Where the reader thread runs the reader's work: the SDK loaded in this process, or in the reader
// host (a child process that alone loads it; see reader_host/).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/status_message.h"
#include "reader/reader_drivers.h"
#include "service/command_params.h"

namespace kavenor {

class ReaderBackend {
 public:
  virtual ~ReaderBackend() = default;

  // Whether the SDK copies of ORV5A, ORV5U and ORV5ULN are loaded, as last known. Any thread.
  virtual std::array<bool, 3> LibrariesLoaded() const = 0;

  // Where the operations report their outcomes; set before the first command.
  virtual void SetStatusSink(StatusSink sink) = 0;

  // Reader thread: the reply of a command of codes 3 to 9, or of one attempt of the waiting read
  // (code 2; nullopt for a model without an identity-card read), with the drivers of `model`. The
  // text is lent: it stays valid until the next Run or Recover (a card record of megabytes is
  // handed on from where it lies, not copied).
  virtual std::optional<std::u16string_view> Run(const Command& command, int32_t model) = 0;

  // Reader thread, after a reply has been handed on: the lent text is released, and what the
  // command broke is mended.
  virtual void Recover() {}

  // Reader thread, as it ends: what belongs to the thread is released.
  virtual void ThreadEnds() {}
};

// The SDK in this process: the drivers bound at construction.
class InProcessReader : public ReaderBackend {
 public:
  // Binds the three libraries of `moduleDir`; `report` shows the message of one that does not load.
  InProcessReader(const std::u16string& moduleDir, const MessageSink& report);
  // The drivers of a test, which must outlive this object.
  explicit InProcessReader(ReaderDrivers& drivers) : drivers_(drivers) {}

  std::array<bool, 3> LibrariesLoaded() const override;
  void SetStatusSink(StatusSink sink) override { drivers_.SetStatusSink(sink); }
  std::optional<std::u16string_view> Run(const Command& command, int32_t model) override;
  void Recover() override { std::u16string().swap(reply_); }

 private:
  std::unique_ptr<ReaderDrivers> owned_;
  ReaderDrivers& drivers_;
  std::u16string reply_;  // the last reply, lent until the next command
};

}  // namespace kavenor
