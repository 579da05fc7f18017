// What each reader model can do and with which driver: one row per model of the settings window's
// list, and one for any other value a hand-edited Config.ini may hold.
#pragma once

#include <cstdint>
#include <optional>

#include "reader/entry_points.h"

namespace kavenor {

// How a model reads the reader's security-module number.
enum class SamQuery {
  kNone,  // it cannot ("设备无法获取安全模块号")
  kText,  // ORV5U: the dash-separated text
  kRaw,   // ORV5U-LN: the raw record
};

struct ModelTraits {
  std::optional<DriverKind> idCardDriver;  // none: no identity-card read at all
  bool delayedIdCardRead = false;          // the FT232 variant pauses after opening the reader
  // The memory-card commands run on the ORV5A driver; none: the model has no memory card.
  std::optional<uint32_t> m1RequestPauseMs;
  uint32_t m1BlockPauseMs = 0;
  SamQuery sam = SamQuery::kNone;
  bool bankCard = false;  // only ORV5A reads bank cards
};

// The traits of `model` (g_deviceModel's values: 0 ORV5U, 1 ORV5A, 2 ORV5A(FT232), 3 ORV5U-LN,
// anything else the row of a model outside the list).
const ModelTraits& TraitsOf(int32_t model);

}  // namespace kavenor
