#include "shell/status_log.h"

#include "common/reply_texts.h"
#include "common/status_message.h"
#include "common/text.h"

namespace kavenor {

std::u16string StatusLogText(uint32_t code) {
  switch (code) {
    case kStatusReadOk: return texts::kLogReadOk;
    case kStatusAuthFailed: return texts::kLogAuthFailed;
    case kStatusNoDevice: return texts::kLogNoDevice;
    case kStatusReadFailed: return texts::kLogReadFailed;
    case kStatusHostCrashed: return texts::kLogHostCrashed;
    case kStatusHostHung: return texts::kLogHostHung;
    case kStatusHostFailing: return texts::kLogHostFailing;
    default: return texts::kLogUnknownError + DecimalText(static_cast<int>(code));
  }
}

std::u16string ServiceFailedLogText(uint16_t port) {
  return u"服务未能启动：端口" + DecimalText(port) + u"已被占用或无法使用";
}

std::u16string StatusLogLine(const std::u16string& text, const std::tm& localTime) {
  char stamp[128];
  size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &localTime);
  return std::u16string(stamp, stamp + n) + text;
}

std::u16string AppendStatusLogLine(std::u16string log, const std::u16string& line) {
  if (log.size() > kStatusLogLimit) log.clear();
  log += line;
  log += u"\r\n";
  return log;
}

}  // namespace kavenor
