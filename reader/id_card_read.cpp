// The identity-card reads: open, authenticate, read, build the record, post the outcome, close.
#include <utility>

#include "common/reply_texts.h"
#include "reader/card_record.h"
#include "reader/reader_driver.h"

namespace kavenor {

namespace {
constexpr uint32_t kDelayedPauseMs = 500;
}

std::u16string ReaderDriver::ReadIdCard() { return ReadIdCardIn(RecordForm::kText, false, false); }
std::u16string ReaderDriver::ReadIdCardNoJudge() { return ReadIdCardIn(RecordForm::kText, true, false); }
std::u16string ReaderDriver::ReadIdCardDelayed() { return ReadIdCardIn(RecordForm::kText, false, true); }
std::u16string ReaderDriver::ReadIdCardNoJudgeDelayed() { return ReadIdCardIn(RecordForm::kText, true, true); }

int ReaderDriver::ReadCardContent() {
  if (kind_ == DriverKind::k5U) return entry_.ORV_Read_Content ? entry_.ORV_Read_Content(1) : 0;
  return entry_.ORV_Read_FPContent ? entry_.ORV_Read_FPContent() : 0;
}

std::u16string ReaderDriver::ReadIdCardIn(RecordForm form, bool noJudge, bool delayed) {
  const std::optional<uint32_t> pauseMs = delayed ? std::optional<uint32_t>(kDelayedPauseMs) : std::nullopt;
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
      std::optional<std::u16string> json = form == RecordForm::kJson ? FormatCardRecordJson() : std::nullopt;
      if (json)
        reply = std::move(*json);  // the object carries the model tag and the device name itself
      else
        AppendCardRecord(entry_, kind_, cardImages_, reply);  // megabytes with the card images: written in place
      status = kStatusReadOk;
    }
    Post(status);  // before the reader is closed
    return reply;
  });
}

}  // namespace kavenor
