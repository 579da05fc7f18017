#include "simulator/entry_points.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "common/clock.h"
#include "common/text.h"
#include "simulator/call_log.h"
#include "simulator/failures.h"
#include "simulator/library_dir.h"
#include "simulator/pictures.h"
#include "simulator/scenario.h"

namespace kavenor::sim {
namespace {

constexpr int kOk = sdk::kOk;
constexpr int kM1Ok = sdk::kM1Ok;
constexpr int kFail = 0;
constexpr size_t kFingerprintBytes = sdk::kFingerprintBytes;
constexpr size_t kCompleteSamIdBytes = sdk::kCompleteSamIdBytes;

// The state of this loaded copy: its folder, the scenario last read and the memory-card blocks
// written since it was loaded.
class Reader {
 public:
  static Reader& Get() {
    static Reader reader;
    return reader;
  }

  std::shared_ptr<const Scenario> Current() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!scenario_) scenario_ = Load();
    return scenario_;
  }

  std::shared_ptr<const Scenario> Reload() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (scenario_ && !scenario_->reload) return scenario_;
    }
    auto fresh = Load();
    std::lock_guard<std::mutex> lock(mutex_);
    scenario_ = fresh;
    return fresh;
  }

  void Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    AppendLogLine(logPath_, line);
  }

  M1Block Block(const Scenario& scenario, int block) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = written_.find(block);
    return it == written_.end() ? scenario.m1.BlockOf(block) : it->second;
  }

  void Store(int block, const M1Block& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    written_[block] = data;
  }

 private:
  Reader() : scenarioPath_(BesideLibrary(kScenarioFileName)), logPath_(BesideLibrary(kCallLogFileName)) {}

  std::shared_ptr<const Scenario> Load() const {
    return std::make_shared<const Scenario>(ReadScenarioFile(scenarioPath_));
  }

  std::u16string scenarioPath_, logPath_;
  std::mutex mutex_, logMutex_;
  std::shared_ptr<const Scenario> scenario_;
  std::map<int, M1Block> written_;
};

std::string Hex(const unsigned char* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  if (!bytes) return out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string Value(const int* p) { return p ? std::to_string(*p) : std::string("null"); }

// One call of an entry point: logged when it is entered, then failed if the scenario asks it to;
// Return applies the override and delay.
class Call {
 public:
  enum Source { kCurrentScenario, kReadScenarioAgain };

  explicit Call(EntryPoint entry, const std::string& args = {}, Source which = kCurrentScenario)
      : entry_(EntryPointName(entry)), entered_(TickCountMs()) {
    scenario_ = which == kReadScenarioAgain ? Reader::Get().Reload() : Reader::Get().Current();
    if (scenario_->callLog) {
      std::string line = std::to_string(entered_) + " " + entry_;
      if (!args.empty()) line += " " + args;
      Reader::Get().Log(line);
    }
    FailIfAsked(*scenario_, entry_);
  }

  const Scenario& scenario() const { return *scenario_; }

  int Return(int result) const {
    auto it = scenario_->results.find(entry_);
    if (it != scenario_->results.end()) result = it->second;
    // The delay runs from the call's entry on the program's own clock, so that a caller timing the
    // call never sees less than the delay, whatever the granularity of Sleep.
    int delay = scenario_->DelayOf(entry_);
    if (delay > 0) {
      const uint64_t deadline = entered_ + static_cast<uint64_t>(delay);
      for (uint64_t now = TickCountMs(); now < deadline; now = TickCountMs())
        SleepMs(static_cast<uint32_t>(deadline - now));
    }
    return result;
  }

 private:
  std::string entry_;
  uint64_t entered_;
  std::shared_ptr<const Scenario> scenario_;
};

// Writes `text` into `capacity` units: cut to leave room for the zero, or, for a scenario that
// tests unterminated texts, the text repeated over the whole buffer with no zero at all.
template <typename Unit, typename Text>
void FillText(Unit* out, size_t capacity, const Text& text, bool unterminated) {
  if (!out || capacity == 0) return;
  if (unterminated) {
    const Text filler = text.empty() ? Text(1, '#') : text;
    for (size_t i = 0; i < capacity; ++i) out[i] = static_cast<Unit>(filler[i % filler.size()]);
    return;
  }
  size_t n = std::min(text.size(), capacity - 1);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<Unit>(text[i]);
  out[n] = 0;
}

void FillAnsi(char* out, size_t capacity, const std::string& utf8, bool unterminated) {
  FillText(out, capacity, Utf16ToAnsi(Utf8ToUtf16(utf8)), unterminated);
}

std::u16string TextOf(const Scenario& s, const std::string& entry) {
  if (auto it = s.texts.find(entry); it != s.texts.end()) return it->second;
  if (auto it = s.pictureSizes.find(entry); it != s.pictureSizes.end()) return Base64Filler(it->second);
  return DemoPicture(entry);  // empty for a getter that is not a picture
}

bool KeyMatches(const Scenario& s, int block, const unsigned char* key) {
  if (!key) return false;
  const M1Key& expected = s.m1.KeyOf(block);
  return std::equal(expected.begin(), expected.end(), key);
}

void PutId(const Scenario& s, unsigned char* id) {
  if (id) std::copy(s.m1.id.begin(), s.m1.id.end(), id);
}

int Authenticate(EntryPoint entry) {
  Call call(entry);
  return call.Return(call.scenario().card ? kOk : kFail);
}

}  // namespace

int Serve(Entry<EntryPoint::ORV_InitComm>, int port) {
  Call call(EntryPoint::ORV_InitComm, "port=" + std::to_string(port), Call::kReadScenarioAgain);
  return call.Return(call.scenario().ports.count(port) ? kOk : kFail);
}

int Serve(Entry<EntryPoint::ORV_CloseComm>) {
  Call call(EntryPoint::ORV_CloseComm);
  return call.Return(kOk);
}

int Serve(Entry<EntryPoint::ORV_Authenticate>) { return Authenticate(EntryPoint::ORV_Authenticate); }

int Serve(Entry<EntryPoint::ORV_AuthenticateForNoJudge>) {
  return Authenticate(EntryPoint::ORV_AuthenticateForNoJudge);
}

int Serve(Entry<EntryPoint::ORV_Read_Content>, int active) {
  Call call(EntryPoint::ORV_Read_Content, "active=" + std::to_string(active));
  return call.Return(call.scenario().card ? kOk : kFail);
}

int Serve(Entry<EntryPoint::ORV_Read_FPContent>) {
  Call call(EntryPoint::ORV_Read_FPContent);
  return call.Return(call.scenario().card ? kOk : kFail);
}

int Serve(Entry<EntryPoint::ORV_GetSAMID>, char* text) {
  Call call(EntryPoint::ORV_GetSAMID);
  FillAnsi(text, sdk::kSamIdBytes, call.scenario().sam, call.scenario().unterminated);
  return call.Return(kOk);
}

int GetText(EntryPoint entry, KadrelU16* text, int* length) {
  Call call(entry, "length=" + Value(length));
  if (length && *length > 0)
    FillText(text, static_cast<size_t>(*length), TextOf(call.scenario(), EntryPointName(entry)),
             call.scenario().unterminated);
  return call.Return(kOk);
}

int Serve(Entry<EntryPoint::GetCertTypeU>, unsigned char* type, int* length) {
  Call call(EntryPoint::GetCertTypeU, "length=" + Value(length));
  const int most = sdk::kCertTypeBytes;
  size_t capacity = static_cast<size_t>(length ? std::clamp(*length, 0, most) : most);
  if (type && capacity > 0) {
    std::fill_n(type, capacity, 0);
    if (!call.scenario().certType.empty()) type[0] = static_cast<unsigned char>(call.scenario().certType[0]);
  }
  return call.Return(kOk);
}

int Serve(Entry<EntryPoint::GetFPDate>, unsigned char* data, int* length) {
  // The buffer is always kFingerprintBytes; the length the caller passes is not its size.
  Call call(EntryPoint::GetFPDate, "length=" + Value(length));
  if (data) {
    const std::vector<uint8_t>& fp = call.scenario().fingerprint;
    std::fill_n(data, kFingerprintBytes, 0);
    std::copy_n(fp.begin(), std::min(fp.size(), kFingerprintBytes), data);
  }
  return call.Return(kOk);
}

int Serve(Entry<EntryPoint::GetIssuesNumU>, int* count) {
  Call call(EntryPoint::GetIssuesNumU, "count=" + Value(count));
  if (count) *count = call.scenario().issues;
  return call.Return(kOk);
}

int Serve(Entry<EntryPoint::ORV_M1_Request>, int mode, unsigned char* id, unsigned char* request) {
  Call call(EntryPoint::ORV_M1_Request, "mode=" + std::to_string(mode));
  const Scenario& s = call.scenario();
  if (!s.card) return call.Return(kFail);
  PutId(s, id);
  if (request) std::copy(s.m1.request.begin(), s.m1.request.end(), request);
  return call.Return(kM1Ok);
}

int Serve(Entry<EntryPoint::ORV_M1_Read>, int mode, unsigned char* id, unsigned char block, unsigned char* key,
          unsigned char* data) {
  Call call(EntryPoint::ORV_M1_Read, "mode=" + std::to_string(mode) + " block=" + std::to_string(block) +
                                         " key=" + Hex(key, sdk::kM1KeyBytes));
  const Scenario& s = call.scenario();
  if (!s.card || !KeyMatches(s, block, key)) return call.Return(kFail);
  PutId(s, id);
  if (data) {
    M1Block content = Reader::Get().Block(s, block);
    std::copy(content.begin(), content.end(), data);
  }
  return call.Return(kM1Ok);
}

int Serve(Entry<EntryPoint::ORV_M1_Write>, int mode, unsigned char* id, unsigned char block, unsigned char* key,
          unsigned char* data) {
  Call call(EntryPoint::ORV_M1_Write, "mode=" + std::to_string(mode) + " block=" + std::to_string(block) +
                                          " key=" + Hex(key, sdk::kM1KeyBytes) +
                                          " data=" + Hex(data, sdk::kM1BlockBytes));
  const Scenario& s = call.scenario();
  if (!s.card || !data || !KeyMatches(s, block, key)) return call.Return(kFail);
  M1Block content;
  std::copy_n(data, content.size(), content.begin());
  Reader::Get().Store(block, content);
  PutId(s, id);
  return call.Return(kM1Ok);
}

int Serve(Entry<EntryPoint::M1_MF_GetFisCardID>, char* number, char* second, int* extra) {
  Call call(EntryPoint::M1_MF_GetFisCardID);
  const Scenario& s = call.scenario();
  if (!s.card) return call.Return(kFail);
  FillAnsi(number, sdk::kFisNumberBytes, s.bankNumber, s.unterminated);
  FillAnsi(second, sdk::kFisSecondBytes, s.bankSecond, s.unterminated);
  if (extra) *extra = static_cast<int>(s.bankNumber.size());
  return call.Return(kM1Ok);
}

int Serve(Entry<EntryPoint::ORV_GetCompleteSAMID>, unsigned char* raw) {
  Call call(EntryPoint::ORV_GetCompleteSAMID);
  if (raw) {
    const std::vector<uint8_t>& record = call.scenario().samRaw;
    std::fill_n(raw, kCompleteSamIdBytes, 0);
    std::copy_n(record.begin(), std::min(record.size(), kCompleteSamIdBytes), raw);
  }
  return call.Return(kOk);
}

}  // namespace kavenor::sim
