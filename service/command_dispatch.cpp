#include "service/command_dispatch.h"

#include "common/reply_texts.h"
#include "reader/model_traits.h"

namespace kavenor {

const char kStopListening[] = "stop-listening";

namespace {

// A result longer than this counts as a card record.
constexpr size_t kShortestRecord = 100;

ReaderDriver& DriverOf(DriverKind kind, ReaderDrivers& d) {
  switch (kind) {
    case DriverKind::k5U: return d.Reader5U;
    case DriverKind::k5ULN: return d.Reader5ULN;
    case DriverKind::k5A: break;
  }
  return d.Reader5A;
}

// The identity-card read of codes 2 and 3 (noJudge false) or 4 (true); nullopt for a model without one.
std::optional<std::u16string> ReadIdCard(const ModelTraits& traits, const Command& c, bool noJudge, ReaderDrivers& d) {
  if (!traits.idCardDriver) return std::nullopt;
  const RecordForm form = c.json ? RecordForm::kJson : RecordForm::kText;
  return DriverOf(*traits.idCardDriver, d).ReadIdCardIn(form, noJudge, traits.delayedIdCardRead);
}

std::u16string SamId(const ModelTraits& traits, ReaderDrivers& d) {
  switch (traits.sam) {
    case SamQuery::kText: return d.Reader5U.ReadSamId();
    case SamQuery::kRaw: return d.Reader5ULN.ReadCompleteSamId();
    case SamQuery::kNone: break;
  }
  return texts::kNoSamQuery;
}

}  // namespace

std::u16string RunCommand(const Command& c, int32_t model, ReaderDrivers& d) {
  const ModelTraits& traits = TraitsOf(model);
  // The memory-card parameters are checked before the model is looked at.
  if (c.badParameters) return texts::kBadParameters;
  const bool m1 = traits.m1RequestPauseMs.has_value();
  switch (c.code) {
    case CommandCode::kWaitingRead:  // runs as attempts; see ReadAttempt
    case CommandCode::kReadIdCard: return ReadIdCard(traits, c, false, d).value_or(u"");
    case CommandCode::kReadIdCardNoJudge: return ReadIdCard(traits, c, true, d).value_or(u"");
    case CommandCode::kSamId: return SamId(traits, d);
    case CommandCode::kM1Request:
      return m1 ? d.Reader5A.M1Request(*traits.m1RequestPauseMs) : texts::kNoSuchFunction;
    case CommandCode::kM1Read:
      return m1 ? d.Reader5A.M1Read(traits.m1BlockPauseMs, c.key, c.block) : texts::kNoSuchFunction;
    case CommandCode::kM1Write:
      return m1 ? d.Reader5A.M1Write(traits.m1BlockPauseMs, c.key, c.block, c.data) : texts::kNoSuchFunction;
    case CommandCode::kBankCardNumber:
      return traits.bankCard ? d.Reader5A.ReadBankCardNumber() : texts::kNoSuchFunction;
  }
  return u"";
}

std::optional<std::u16string> ReadAttempt(const Command& command, int32_t model, ReaderDrivers& drivers) {
  return ReadIdCard(TraitsOf(model), command, false, drivers);
}

bool IsCardRecord(std::u16string_view reply) { return reply.size() > kShortestRecord; }

const char16_t* FailureText(CommandCode code) {
  switch (code) {
    case CommandCode::kWaitingRead:
    case CommandCode::kReadIdCard:
    case CommandCode::kReadIdCardNoJudge: return texts::kCardReadFailed;
    case CommandCode::kSamId: return texts::kSamIdFailed;
    case CommandCode::kM1Request: return texts::kM1AuthFailed;
    case CommandCode::kM1Read: return texts::kM1ReadFailed;
    case CommandCode::kM1Write: return texts::kM1WriteFailed;
    case CommandCode::kBankCardNumber: return texts::kBankCardFailed;
  }
  return texts::kCardReadFailed;
}

}  // namespace kavenor
