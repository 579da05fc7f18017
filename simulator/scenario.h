// What the simulated reader holds: its ports, the card on it and how each call behaves.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "reader/sdk_abi.h"

namespace kavenor::sim {

using M1Key = std::array<uint8_t, sdk::kM1KeyBytes>;
using M1Block = std::array<uint8_t, sdk::kM1BlockBytes>;

struct M1Card {
  std::array<uint8_t, sdk::kM1IdBytes> id{};
  std::vector<uint8_t> request;  // bytes written to the request buffer, at most sdk::kM1RequestBytes
  M1Key key{};                   // the key of every block without a key of its own
  std::map<int, M1Key> blockKeys;
  std::map<int, M1Block> blocks;  // blocks not listed read as zeros

  const M1Key& KeyOf(int block) const;
  M1Block BlockOf(int block) const;
};

// How a call, or the library's load, fails when the scenario asks it to: a write through a null
// pointer, std::abort(), or a sleep that never ends.
enum class Failure : uint8_t { kCrash, kAbort, kHang };
enum class Repeat : uint8_t { kOnce, kAlways };
constexpr Failure kFailures[] = {Failure::kCrash, Failure::kAbort, Failure::kHang};  // in the order tried
constexpr char kLoadPoint[] = "load";  // the failure point of the library's load

struct Scenario {
  std::set<int> ports;  // the ports ORV_InitComm opens
  bool card = true;     // a card lies on the reader
  int delayMs = 0;      // pause of every call before it returns
  std::map<std::string, int> delays;   // per entry point, overriding delayMs
  std::map<std::string, int> results;  // per entry point, replacing its own result
  // Per U-getter. The three picture getters appear here only when the scenario sets their text.
  std::map<std::string, std::u16string> texts;
  std::map<std::string, size_t> pictureSizes;  // "<picture getter>.size": Base64 filler of that length
  // For benchmarks that time the program alone: "calllog=0" writes no call log, "reload=0" keeps
  // the scenario first read instead of reading the file again at every ORV_InitComm.
  bool callLog = true;
  bool reload = true;
  bool unterminated = false;  // text calls fill their whole buffer and write no zero
  std::string certType;       // its first byte is the type letter; empty gives a zero byte
  std::vector<uint8_t> fingerprint;  // at most sdk::kFingerprintBytes; the rest of the buffer is zero
  int issues = 0;
  M1Card m1;
  std::string bankNumber;  // UTF-8
  std::string bankSecond;  // UTF-8
  std::string sam;         // UTF-8
  std::vector<uint8_t> samRaw;  // at most sdk::kCompleteSamIdBytes
  // "crash.<point>", "abort.<point>" and "hang.<point>" = once|always, keyed by the whole key;
  // <point> is an entry point's name, or "load" for the library's load.
  std::map<std::string, Repeat> failures;
  // Which scenario file this was read from, as written (size, modification time, content); empty for
  // the demo card. The markers of the "once" failures hold it (failures.h).
  std::string fileIdentity;

  int DelayOf(const std::string& entry) const;
};

constexpr char16_t kScenarioFileName[] = u"scenario.ini";  // beside the library

// The demo card: what the reader holds when no scenario file lies beside the library.
Scenario DemoScenario();

// A scenario file (UTF-8 "key=value" lines, "#" comment lines, unknown keys ignored) laid over the
// demo card. Only `ports` does not fall back to the demo: a file without it opens no port.
Scenario ParseScenario(const std::string& utf8);

// The scenario file at `path` parsed, with its fileIdentity; the demo card when there is no file.
Scenario ReadScenarioFile(const std::u16string& path);

// The scenario key of a failure at `point`: "crash.<point>", "abort.<point>" or "hang.<point>".
std::string FailureKey(Failure how, const std::string& point);

// The U-getters whose text a scenario can set, each named as its entry point: the entry points of
// type TextGetterFn.
const std::vector<std::string>& TextGetterNames();

// Getbase64BMPDataU, Getbase64FrontBMPDataU and Getbase64backBMPDataU.
bool IsPictureGetter(const std::string& entry);

// Hex pairs ("0a1B..."); reading stops at the first character that is not part of a pair.
std::vector<uint8_t> ParseHex(const std::string& text);

}  // namespace kavenor::sim
