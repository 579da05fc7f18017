#include "common/device_model.h"

namespace kavenor {

std::atomic<int32_t> g_deviceModel{0};

static_assert(std::atomic<int32_t>::is_always_lock_free, "the model must be a plain aligned word");

}  // namespace kavenor
