// The identity-card reads: open, authenticate, read, build the record, post the outcome, close.
#include "common/reply_texts.h"
#include "reader/reader_driver.h"

namespace kavenor {

namespace {
constexpr uint32_t kDelayedPauseMs = 500;
}

std::u16string ReaderDriver::ReadIdCard() { return ReadIdCardWith(false, std::nullopt); }
std::u16string ReaderDriver::ReadIdCardNoJudge() { return ReadIdCardWith(true, std::nullopt); }
std::u16string ReaderDriver::ReadIdCardDelayed() { return ReadIdCardWith(false, kDelayedPauseMs); }
std::u16string ReaderDriver::ReadIdCardNoJudgeDelayed() { return ReadIdCardWith(true, kDelayedPauseMs); }

int ReaderDriver::ReadCardContent() {
  if (kind_ == DriverKind::k5U) return entry_.ORV_Read_Content ? entry_.ORV_Read_Content(1) : 0;
  return entry_.ORV_Read_FPContent ? entry_.ORV_Read_FPContent() : 0;
}

std::u16string ReaderDriver::ReadIdCardWith(bool noJudge, std::optional<uint32_t> pauseMs) {
  return InReaderCycle(pauseMs, [&] {
    std::u16string reply = ModelTag(kind_);
    reply += u'|';
    reply += deviceName_;  // empty but for ORV5U
    reply += u'|';
    sdk::NoArgFn authenticate = noJudge ? entry_.ORV_AuthenticateForNoJudge : entry_.ORV_Authenticate;
    uint32_t status;
    if (!authenticate || authenticate() != sdk::kOk) {
      reply = texts::kCardAuthFailed;
      status = kStatusAuthFailed;
    } else if (ReadCardContent() != sdk::kOk) {
      reply = texts::kCardReadFailed;
      status = kStatusReadFailed;
    } else {
      reply += FormatCardRecord();
      status = kStatusReadOk;
    }
    Post(status);  // before the reader is closed
    return reply;
  });
}

}  // namespace kavenor
