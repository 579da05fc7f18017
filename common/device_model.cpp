#include "common/device_model.h"

namespace kavenor {

std::atomic<int32_t> g_deviceModel{kModelOrv5u};

static_assert(std::atomic<int32_t>::is_always_lock_free, "the model must be a plain aligned word");

const char16_t* DeviceModelName(int32_t model) {
  switch (model) {
    case kModelOrv5u: return u"ORV5U";
    case kModelOrv5a: return u"ORV5A";
    case kModelOrv5aFt232: return u"ORV5A(FT232)";
    case kModelOrv5uLn: return u"ORV5U-LN";
    default: return nullptr;
  }
}

}  // namespace kavenor
