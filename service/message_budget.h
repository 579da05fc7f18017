// The memory that pages can make the service hold: the bytes of incoming messages not yet complete,
// summed over every connection. Each message alone may be as large as the message limit; together
// they may not pass the budget, or a few hundred connections would exhaust the computer's memory.
#pragma once

#include <cstddef>

namespace kavenor {

class MessageBudget {
 public:
  static constexpr size_t kLimit = 64 * 1024 * 1024;

  // Takes `bytes`; false, and nothing taken, when the sum would pass kLimit.
  static bool Take(size_t bytes);
  static void Give(size_t bytes);
  static size_t Held();
};

}  // namespace kavenor
