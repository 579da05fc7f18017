// The status log: each outcome posted by a reader operation, and a service that could not start,
// becomes one timestamped line of the settings window's log box (Linux: of standard output).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kavenor {

// The log holds at most about this many UTF-16 units: a longer log is emptied before the next line.
constexpr size_t kStatusLogLimit = 10240;

// The log text of a status code: 0 "读卡成功", 1 "卡认证失败", 2 "设备无法连接，请拔插一下设备",
// 3 "读卡失败", the reader host's 100 "读卡组件意外退出，已重新启动", 101 "读卡组件无响应，已重新启动",
// 102 "读卡组件无法启动，稍后自动重试", any other "未知错误:%d" (the code printed as a signed number).
std::u16string StatusLogText(uint32_t code);

// "服务未能启动：端口N已被占用或无法使用".
std::u16string ServiceFailedLogText(uint16_t port);

// "%Y-%m-%d %H:%M:%S " of `localTime`, then `text`; no line end.
std::u16string StatusLogLine(const std::u16string& text, const std::tm& localTime);

// The log after one more line: `log` (emptied first when longer than kStatusLogLimit), `line`, "\r\n".
std::u16string AppendStatusLogLine(std::u16string log, const std::u16string& line);

}  // namespace kavenor
