#include "service/reader_backend.h"

#include "service/command_dispatch.h"

namespace kavenor {

InProcessReader::InProcessReader(const std::u16string& moduleDir, const MessageSink& report)
    : owned_(std::make_unique<ReaderDrivers>(moduleDir, report)), drivers_(*owned_) {}

std::array<bool, 3> InProcessReader::LibrariesLoaded() const {
  return {drivers_.Reader5A.IsBound(), drivers_.Reader5U.IsBound(), drivers_.Reader5ULN.IsBound()};
}

std::optional<std::u16string_view> InProcessReader::Run(const Command& command, int32_t model) {
  if (command.code != CommandCode::kWaitingRead) {
    reply_ = RunCommand(command, model, drivers_);
  } else if (std::optional<std::u16string> attempt = ReadAttempt(command, model, drivers_)) {
    reply_ = std::move(*attempt);
  } else {
    return std::nullopt;
  }
  return reply_;
}

}  // namespace kavenor
