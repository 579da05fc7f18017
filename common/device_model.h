// The configured reader model, shared by the settings window and the service thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace kavenor {

// The models of the settings window's list; the value is the list position, [Device] ID and
// g_deviceModel. Other values come from a hand-edited Config.ini; each user says what it does
// with them.
enum DeviceModel : int32_t {
  kModelOrv5u = 0,
  kModelOrv5a = 1,
  kModelOrv5aFt232 = 2,  // the ORV5A driver with the FT232 variant's timings
  kModelOrv5uLn = 3,
};
constexpr int32_t kDeviceModelCount = 4;

// The list text of a model ("ORV5U", "ORV5A", "ORV5A(FT232)", "ORV5U-LN"); null outside the list.
const char16_t* DeviceModelName(int32_t model);

// One aligned 32-bit store and load with no ordering: a new value counts from the next read.
extern std::atomic<int32_t> g_deviceModel;

inline int32_t CurrentDeviceModel() { return g_deviceModel.load(std::memory_order_relaxed); }
inline void SetDeviceModel(int32_t model) { g_deviceModel.store(model, std::memory_order_relaxed); }

}  // namespace kavenor
