// How a start begins: a relaunch or a normal start, and whether it may run beside another instance.
#pragma once

#include <cstdint>
#include <string>

namespace kavenor {

enum class StartKind {
  kNormal,    // must be the only instance
  kRelaunch,  // started by the instance it replaces, which may still be running
};

// Reads [IP] Restart (1: a relaunch) and writes "0" back at once, so that only this start counts
// as a relaunch and the next normal start is checked again.
StartKind TakeRestartFlag(const std::u16string& settingsPath);

// How long a relaunched instance whose port is still taken waits for the instance it replaces.
constexpr uint32_t kPredecessorWaitMs = 10000;

// The text of the refusal of a second instance.
inline constexpr char16_t kOnlyOneInstance[] = u"只能启动一个程序";

}  // namespace kavenor
