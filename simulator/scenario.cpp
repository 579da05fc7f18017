#include "simulator/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <type_traits>

#include "common/file_io.h"
#include "common/text.h"
#include "reader/sdk_abi.h"

namespace kavenor::sim {
namespace {

using sdk::EntryPoint;

constexpr size_t kFingerprintBytes = sdk::kFingerprintBytes;
constexpr size_t kCompleteSamIdBytes = sdk::kCompleteSamIdBytes;

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

std::optional<long> ParseInt(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

// "<prefix><n>" with n a block number 0..255.
std::optional<int> BlockSuffix(const std::string& key, const std::string& prefix) {
  if (key.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::optional<long> n = ParseInt(key.substr(prefix.size()));
  if (!n || *n < 0 || *n > 255) return std::nullopt;
  return static_cast<int>(*n);
}

template <size_t N>
std::array<uint8_t, N> FixedBytes(const std::string& hex) {
  std::array<uint8_t, N> out{};
  std::vector<uint8_t> bytes = ParseHex(hex);
  std::copy_n(bytes.begin(), std::min(bytes.size(), N), out.begin());
  return out;
}

// "crash.<point>", "abort.<point>" or "hang.<point>", <point> an entry point's name or "load".
bool IsFailureKey(const std::string& key) {
  for (Failure how : kFailures) {
    const std::string prefix = FailureKey(how, "");
    if (key.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string point = key.substr(prefix.size());
    if (point == kLoadPoint) return true;
    for (unsigned i = 0; i < static_cast<unsigned>(EntryPoint::kCount); ++i)
      if (point == sdk::EntryPointName(static_cast<EntryPoint>(i))) return true;
  }
  return false;
}

// FNV-1a, 64 bits, as hex: enough to tell two versions of a scenario file apart.
std::string ContentHash(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  static const char kDigits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) out[static_cast<size_t>(i)] = kDigits[hash & 15];
  return out;
}

std::vector<uint8_t> AtMost(std::vector<uint8_t> bytes, size_t n) {
  if (bytes.size() > n) bytes.resize(n);
  return bytes;
}

// Two templates of 512 bytes, each opened by the usual header bytes, the rest a fixed pseudo-random run.
std::vector<uint8_t> DemoFingerprint() {
  std::vector<uint8_t> data(kFingerprintBytes, 0);
  uint32_t seed = 20200101;
  for (size_t base = 0; base < data.size(); base += 512) {
    data[base] = 0x43;
    data[base + 1] = 0x01;
    for (size_t i = 2; i < 512; ++i) {
      seed = seed * 1103515245u + 12345u;
      data[base + i] = static_cast<uint8_t>(seed >> 16);
    }
  }
  return data;
}

void PutLe32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

M1Card DemoM1Card() {
  M1Card card;
  card.id = {0x01, 0x02, 0x03, 0x04};
  card.request = {0x04, 0x00};
  card.key.fill(0xff);
  // Block 0: identifier, check byte, type and maker bytes; block 4: a little text.
  card.blocks[0] = {0x01, 0x02, 0x03, 0x04, 0x04, 0x08, 0x04, 0x00,
                    0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};
  const std::string text = "KAVENOR DEMO M1";
  M1Block block4{};
  std::copy(text.begin(), text.end(), block4.begin());
  card.blocks[4] = block4;
  // Sector trailers as a fresh card has them: key A hidden, transport access bits, key B.
  const M1Block trailer = {0, 0, 0, 0, 0, 0, 0xff, 0x07, 0x80, 0x69, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  for (int sector = 0; sector < 16; ++sector) card.blocks[sector * 4 + 3] = trailer;
  return card;
}

}  // namespace

const M1Key& M1Card::KeyOf(int block) const {
  auto it = blockKeys.find(block);
  return it == blockKeys.end() ? key : it->second;
}

M1Block M1Card::BlockOf(int block) const {
  auto it = blocks.find(block);
  return it == blocks.end() ? M1Block{} : it->second;
}

int Scenario::DelayOf(const std::string& entry) const {
  auto it = delays.find(entry);
  return it == delays.end() ? delayMs : it->second;
}

const std::vector<std::string>& TextGetterNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
#define KADREL_TEXT_GETTER(name, type, drivers) \
  if (std::is_same_v<sdk::type, sdk::TextGetterFn>) out.push_back(#name);
    KADREL_ENTRY_POINTS(KADREL_TEXT_GETTER)
#undef KADREL_TEXT_GETTER
    return out;
  }();
  return names;
}

bool IsPictureGetter(const std::string& entry) {
  for (EntryPoint picture :
       {EntryPoint::Getbase64BMPDataU, EntryPoint::Getbase64FrontBMPDataU, EntryPoint::Getbase64backBMPDataU})
    if (entry == sdk::EntryPointName(picture)) return true;
  return false;
}

std::vector<uint8_t> ParseHex(const std::string& text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    int high = digit(text[i]);
    int low = digit(text[i + 1]);
    if (high < 0 || low < 0) break;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return out;
}

Scenario DemoScenario() {
  Scenario s;
  s.ports = {1001};
  s.texts = {
      {"GetPeopleNameU", u"张三丰"},
      {"GetPeopleSexU", u"男"},
      {"GetPeopleNationU", u"汉"},
      {"GetPeopleBirthdayU", u"19900101"},
      {"GetPeopleAddressU", u"北京市东城区示例路1号"},
      {"GetPeopleIDCodeU", u"110101199001010000"},
      {"GetDepartmentU", u"北京市公安局东城分局"},
      {"GetStartDateU", u"20200101"},
      {"GetEndDateU", u"20400101"},
      {"GetNationCodeU", u"01"},
  };
  s.fingerprint = DemoFingerprint();
  s.m1 = DemoM1Card();
  s.bankNumber = "6222021234567890123fff";
  s.bankSecond = "01";
  s.sam = "5-1-2019-123456-7";
  s.samRaw.assign(kCompleteSamIdBytes, 0);
  s.samRaw[0] = 0x05;
  s.samRaw[2] = 0x01;
  PutLe32(s.samRaw, 4, 2019);
  PutLe32(s.samRaw, 8, 123456);
  PutLe32(s.samRaw, 12, 7);
  return s;
}

Scenario ParseScenario(const std::string& utf8) {
  Scenario s = DemoScenario();
  s.ports.clear();
  const std::vector<std::string>& getters = TextGetterNames();

  size_t start = 0;
  if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  while (start < utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string::npos) end = utf8.size();
    std::string line = Trim(utf8.substr(start, end - start));
    start = end + 1;
    size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    std::optional<long> number = ParseInt(value);
    std::optional<int> block;

    if (key == "ports") {
      size_t from = 0;
      while (from <= value.size()) {
        size_t comma = std::min(value.find(',', from), value.size());
        if (std::optional<long> port = ParseInt(Trim(value.substr(from, comma - from))))
          s.ports.insert(static_cast<int>(*port));
        from = comma + 1;
      }
    } else if (key == "card") {
      if (number) s.card = *number != 0;
    } else if (key == "calllog") {
      if (number) s.callLog = *number != 0;
    } else if (key == "reload") {
      if (number) s.reload = *number != 0;
    } else if (key == "unterminated") {
      if (number) s.unterminated = *number != 0;
    } else if (key == "delay_ms") {
      if (number) s.delayMs = static_cast<int>(*number);
    } else if (key.rfind("delay.", 0) == 0) {
      if (number) s.delays[key.substr(6)] = static_cast<int>(*number);
    } else if (key.rfind("result.", 0) == 0) {
      if (number) s.results[key.substr(7)] = static_cast<int>(*number);
    } else if (std::find(getters.begin(), getters.end(), key) != getters.end()) {
      s.texts[key] = Utf8ToUtf16(value);
    } else if (key.size() > 5 && key.compare(key.size() - 5, 5, ".size") == 0 &&
               IsPictureGetter(key.substr(0, key.size() - 5))) {
      if (number && *number >= 0) s.pictureSizes[key.substr(0, key.size() - 5)] = static_cast<size_t>(*number);
    } else if (IsFailureKey(key)) {
      if (value == "once") s.failures[key] = Repeat::kOnce;
      if (value == "always") s.failures[key] = Repeat::kAlways;
    } else if (key == "GetCertTypeU") {
      s.certType = value;
    } else if (key == "GetFPDate") {
      s.fingerprint = AtMost(ParseHex(value), kFingerprintBytes);
    } else if (key == "GetIssuesNumU") {
      if (number) s.issues = static_cast<int>(*number);
    } else if (key == "m1.id") {
      s.m1.id = FixedBytes<sdk::kM1IdBytes>(value);
    } else if (key == "m1.request") {
      s.m1.request = AtMost(ParseHex(value), sdk::kM1RequestBytes);
    } else if (key == "m1.key") {
      s.m1.key = FixedBytes<sdk::kM1KeyBytes>(value);
    } else if ((block = BlockSuffix(key, "m1.key."))) {
      s.m1.blockKeys[*block] = FixedBytes<sdk::kM1KeyBytes>(value);
    } else if ((block = BlockSuffix(key, "m1.block."))) {
      s.m1.blocks[*block] = FixedBytes<sdk::kM1BlockBytes>(value);
    } else if (key == "bank.number") {
      s.bankNumber = value;
    } else if (key == "bank.second") {
      s.bankSecond = value;
    } else if (key == "sam") {
      s.sam = value;
    } else if (key == "samraw") {
      s.samRaw = AtMost(ParseHex(value), kCompleteSamIdBytes);
    }
  }
  return s;
}

Scenario ReadScenarioFile(const std::u16string& path) {
  // The time is taken before the bytes, so that a file written meanwhile gets a new identity later.
  std::error_code error;
  const auto written = std::filesystem::last_write_time(std::filesystem::path(path), error);
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return DemoScenario();
  Scenario s = ParseScenario(bytes);
  s.fileIdentity = std::to_string(bytes.size()) + " " +
                   std::to_string(error ? 0 : static_cast<long long>(written.time_since_epoch().count())) + " " +
                   ContentHash(bytes);
  return s;
}

std::string FailureKey(Failure how, const std::string& point) {
  switch (how) {
    case Failure::kCrash: return "crash." + point;
    case Failure::kAbort: return "abort." + point;
    case Failure::kHang: return "hang." + point;
  }
  return point;
}

}  // namespace kavenor::sim
