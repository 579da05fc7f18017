// The command protocol without its transport: one message in, at most one reply text out.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "reader/reader_drivers.h"

namespace kavenor {

// The payload that stops the endpoint listening; it is never a command.
extern const char kStopListening[];

// Handles one command message (8-bit text, binary frames alike) with the drivers of the model
// `g_deviceModel` holds when the command starts (for code 2, before every attempt). Returns the
// reply text, or nullopt for a message that is no command (a code other than 2 to 9). Runs on the
// service thread; a waiting read (code 2) blocks for up to its time-out plus one attempt, unless
// `clientGone` (asked before each attempt) says that nobody waits for the reply any more: then it
// stops and returns nullopt.
std::optional<std::u16string> HandleCommand(const std::string& payload, ReaderDrivers& drivers,
                                            const std::function<bool()>& clientGone = {});

}  // namespace kavenor
