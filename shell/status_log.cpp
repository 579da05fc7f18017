#include "shell/status_log.h"

#include "common/text.h"

namespace kavenor {

std::u16string StatusLogText(uint32_t code) {
  switch (code) {
    case 0: return u"读卡成功";
    case 1: return u"卡认证失败";
    case 2: return u"设备无法连接，请拔插一下设备";
    case 3: return u"读卡失败";
    default: return u"未知错误:" + DecimalText(static_cast<int>(code));
  }
}

std::u16string StatusLogLine(uint32_t code, const std::tm& localTime) {
  char stamp[128];
  size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &localTime);
  return std::u16string(stamp, stamp + n) + StatusLogText(code);
}

}  // namespace kavenor
