// The status log: each status code posted by a reader operation becomes one timestamped line.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kavenor {

// The log text of a status code: 0 "读卡成功", 1 "卡认证失败", 2 "设备无法连接，请拔插一下设备",
// 3 "读卡失败", any other "未知错误:%d" (the code printed as a signed number).
std::u16string StatusLogText(uint32_t code);

// "%Y-%m-%d %H:%M:%S " of `localTime`, then the log text; no line end.
std::u16string StatusLogLine(uint32_t code, const std::tm& localTime);

}  // namespace kavenor
