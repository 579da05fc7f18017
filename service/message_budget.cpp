#include "service/message_budget.h"

#include <atomic>

namespace kavenor {
namespace {
// Atomic: tests and benchmarks run several services in one process.
std::atomic<size_t> g_held{0};
}  // namespace

bool MessageBudget::Take(size_t bytes) {
  size_t held = g_held.load(std::memory_order_relaxed);
  do {
    if (bytes > kLimit - held) return false;
  } while (!g_held.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

void MessageBudget::Give(size_t bytes) { g_held.fetch_sub(bytes, std::memory_order_relaxed); }

size_t MessageBudget::Held() { return g_held.load(std::memory_order_relaxed); }

}  // namespace kavenor
