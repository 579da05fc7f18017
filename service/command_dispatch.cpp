#include "service/command_dispatch.h"

#include <cstdint>

#include "common/clock.h"
#include "common/device_model.h"
#include "service/command_params.h"

namespace kavenor {

const char kStopListening[] = "stop-listening";

namespace {

constexpr char16_t kWaitExpired[] = u"读卡失败";
constexpr char16_t kNoSamQuery[] = u"设备无法获取安全模块号";
constexpr char16_t kNoSuchFunction[] = u"设备无此功能";
constexpr char16_t kBadParameters[] = u"输入参数有误";

// A result longer than this counts as a card record.
constexpr size_t kShortestRecord = 100;
constexpr uint32_t kAttemptPauseMs = 500;

// Pauses after opening the reader for the memory-card commands: ORV5A, and ORV5A(FT232) or another.
constexpr uint32_t kM1PauseOrv5a = 10;
constexpr uint32_t kM1PauseFt232 = 200;

// The identity-card read of codes 2 and 3 (noJudge false) or 4 (true); nullopt for a model
// outside 0 to 3.
std::optional<std::u16string> ReadIdCardFor(int32_t model, bool noJudge, ReaderDrivers& d) {
  switch (model) {
    case kModelOrv5u: return noJudge ? d.Reader5U.ReadIdCardNoJudge() : d.Reader5U.ReadIdCard();
    case kModelOrv5a: return noJudge ? d.Reader5A.ReadIdCardNoJudge() : d.Reader5A.ReadIdCard();
    case kModelOrv5aFt232: return noJudge ? d.Reader5A.ReadIdCardNoJudgeDelayed() : d.Reader5A.ReadIdCardDelayed();
    case kModelOrv5uLn: return noJudge ? d.Reader5ULN.ReadIdCardNoJudge() : d.Reader5ULN.ReadIdCard();
    default: return std::nullopt;
  }
}

// Repeats the read until it yields a record or the time-out has passed; the test comes before each
// attempt, so a time-out of 0 makes none and an attempt begun before the deadline is finished. A
// client that has gone ends it (nullopt): the reader and every other client are free again.
std::optional<std::u16string> WaitingRead(const std::string& message, ReaderDrivers& d,
                                          const std::function<bool()>& clientGone) {
  const int32_t timeoutMs = CommandTimeoutMs(message);
  std::u16string last;
  const uint64_t start = TickCountMs();
  while (TickCountMs() - start < static_cast<uint64_t>(timeoutMs)) {
    if (clientGone && clientGone()) return std::nullopt;
    if (std::optional<std::u16string> result = ReadIdCardFor(CurrentDeviceModel(), false, d))
      last = std::move(*result);
    if (last.size() > kShortestRecord) return last;
    SleepMs(kAttemptPauseMs);
  }
  return kWaitExpired;
}

std::u16string SamId(int32_t model, ReaderDrivers& d) {
  if (model == kModelOrv5u) return d.Reader5U.ReadSamId();
  if (model == kModelOrv5uLn) return d.Reader5ULN.ReadCompleteSamId();
  return kNoSamQuery;
}

// Every model but the two ORV5U ones, also a value outside the list.
bool HasMemoryCard(int32_t model) { return model != kModelOrv5u && model != kModelOrv5uLn; }
uint32_t M1Pause(int32_t model) { return model == kModelOrv5a ? kM1PauseOrv5a : kM1PauseFt232; }

std::u16string M1Request(int32_t model, ReaderDrivers& d) {
  if (!HasMemoryCard(model)) return kNoSuchFunction;
  return d.Reader5A.M1Request(model == kModelOrv5a ? 0 : kM1PauseFt232);
}

std::u16string M1Read(const std::string& message, int32_t model, ReaderDrivers& d) {
  uint8_t key[6] = {};
  if (GetHexParam(message, "Key", key, sizeof key) < 0) return kBadParameters;
  const auto block = static_cast<uint8_t>(GetIntParam(message, "Block") & 0xFF);
  if (!HasMemoryCard(model)) return kNoSuchFunction;
  return d.Reader5A.M1Read(M1Pause(model), key, block);
}

std::u16string M1Write(const std::string& message, int32_t model, ReaderDrivers& d) {
  uint8_t key[6] = {};
  uint8_t data[16] = {};
  const auto block = static_cast<uint8_t>(GetIntParam(message, "Block") & 0xFF);
  if (GetHexParam(message, "Key", key, sizeof key) < 0) return kBadParameters;
  if (GetHexParam(message, "WriteBuf", data, sizeof data) < 0) return kBadParameters;
  if (!HasMemoryCard(model)) return kNoSuchFunction;
  return d.Reader5A.M1Write(M1Pause(model), key, block, data);
}

std::u16string BankCardNumber(int32_t model, ReaderDrivers& d) {
  return model == kModelOrv5a ? d.Reader5A.ReadBankCardNumber() : kNoSuchFunction;
}

}  // namespace

std::optional<std::u16string> HandleCommand(const std::string& payload, ReaderDrivers& drivers,
                                            const std::function<bool()>& clientGone) {
  const uint32_t code = CommandCode(payload);
  if (code < 2 || code > 9) return std::nullopt;
  if (code == 2) return WaitingRead(payload, drivers, clientGone);

  const int32_t model = CurrentDeviceModel();
  switch (code) {
    case 3: return ReadIdCardFor(model, false, drivers).value_or(u"");
    case 4: return ReadIdCardFor(model, true, drivers).value_or(u"");
    case 5: return SamId(model, drivers);
    case 6: return M1Request(model, drivers);
    case 7: return M1Read(payload, model, drivers);
    case 8: return M1Write(payload, model, drivers);
    default: return BankCardNumber(model, drivers);
  }
}

}  // namespace kavenor
