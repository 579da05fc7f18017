#include "reader/model_traits.h"

#include "common/device_model.h"

namespace kavenor {
namespace {

constexpr uint32_t kFt232PauseMs = 200;

const ModelTraits kOrv5u{DriverKind::k5U, false, std::nullopt, 0, SamQuery::kText, false};
const ModelTraits kOrv5a{DriverKind::k5A, false, 0, 10, SamQuery::kNone, true};
const ModelTraits kOrv5aFt232{DriverKind::k5A, true, kFt232PauseMs, kFt232PauseMs, SamQuery::kNone, false};
const ModelTraits kOrv5uLn{DriverKind::k5ULN, false, std::nullopt, 0, SamQuery::kRaw, false};
// A value outside the list: no identity-card read, the memory card with the FT232 pauses.
const ModelTraits kOther{std::nullopt, false, kFt232PauseMs, kFt232PauseMs, SamQuery::kNone, false};

}  // namespace

const ModelTraits& TraitsOf(int32_t model) {
  switch (model) {
    case kModelOrv5u: return kOrv5u;
    case kModelOrv5a: return kOrv5a;
    case kModelOrv5aFt232: return kOrv5aFt232;
    case kModelOrv5uLn: return kOrv5uLn;
    default: return kOther;
  }
}

}  // namespace kavenor
