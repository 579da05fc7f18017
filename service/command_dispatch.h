// A command run against the reader, without its transport or its queue: the reply of one command
// of codes 3 to 9, or of one attempt of the waiting read (code 2). Runs on the reader thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "reader/reader_drivers.h"
#include "service/command_params.h"

namespace kavenor {

// The payload that stops the endpoint listening; it is never a command.
extern const char kStopListening[];

// Between two attempts of a waiting read.
constexpr uint32_t kAttemptPauseMs = 500;

// The reply of `command` (codes 3 to 9) with the drivers of `model`.
std::u16string RunCommand(const Command& command, int32_t model, ReaderDrivers& drivers);

// One attempt of the waiting read `command` with the drivers of `model`: the identity-card read's
// reply, or nullopt for a model without one (the wait then runs out).
std::optional<std::u16string> ReadAttempt(const Command& command, int32_t model, ReaderDrivers& drivers);

// Whether an attempt's reply ends the wait: longer than 100 UTF-16 units, whatever it says.
bool IsCardRecord(std::u16string_view reply);

// The reply of a command that failed in an unforeseen way (an exception): the text its operation
// gives when the reader fails it.
const char16_t* FailureText(CommandCode code);

}  // namespace kavenor
