// The configured reader model, shared by the settings window and the service thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace kavenor {

// 0 ORV5U, 1 ORV5A, 2 ORV5A(FT232), 3 ORV5U-LN; other values come from a hand-edited Config.ini.
// One aligned 32-bit store and load with no ordering: a new value counts from the next read.
extern std::atomic<int32_t> g_deviceModel;

inline int32_t CurrentDeviceModel() { return g_deviceModel.load(std::memory_order_relaxed); }
inline void SetDeviceModel(int32_t model) { g_deviceModel.store(model, std::memory_order_relaxed); }

}  // namespace kavenor
