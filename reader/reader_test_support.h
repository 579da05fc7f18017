// Test-only: a scratch app folder with copies of the simulated reader in the three SDK folders,
// their scenarios and call logs.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "reader/reader_drivers.h"

namespace kavenor::testing {

// One line of a call log: when the call came (ms), the entry point and its arguments as written.
struct Call {
  uint64_t ms = 0;
  std::string name;
  std::string args;  // "port=1001", "mode=0 block=4 key=...", or empty
  std::string Text() const { return args.empty() ? name : name + " " + args; }
};

class SimulatedApp {
 public:
  // Copies the simulator `variant` ("full", "no_GetCertTypeU", ...) into the SDK folders listed.
  explicit SimulatedApp(const std::string& variant = "full",
                        const std::vector<DriverKind>& folders = {DriverKind::k5A, DriverKind::k5U,
                                                                  DriverKind::k5ULN});

  // The folder with a trailing separator, as the drivers take it.
  std::u16string moduleDir() const;
  std::u16string configPath() const { return dir_.Join(u"Config.ini"); }
  const ScratchDir& dir() const { return dir_; }

  // scenario.ini of one SDK folder, from "key=value" lines.
  void SetScenario(DriverKind kind, const std::vector<std::pair<std::string, std::string>>& lines);
  void SetScenarioText(DriverKind kind, const std::string& text);

  std::vector<Call> Calls(DriverKind kind) const;
  std::vector<std::string> CallTexts(DriverKind kind) const;  // "name args" per line
  std::vector<std::string> CallNames(DriverKind kind) const;
  void ClearCalls(DriverKind kind);

  // A driver bound to this folder; start-up messages are collected into `messages`, the status
  // codes its operations report (on any thread) into what TakeStatuses returns.
  std::unique_ptr<ReaderDriver> MakeDriver(DriverKind kind);
  std::unique_ptr<ReaderDrivers> MakeDrivers();
  std::vector<std::u16string> messages;

  // The status codes reported since the last call, oldest first.
  std::vector<uint32_t> TakeStatuses();
  StatusSink statusSink();

 private:
  std::u16string SdkDir(DriverKind kind) const;
  ScratchDir dir_;
  struct Statuses {
    std::mutex mutex;
    std::vector<uint32_t> codes;
  };
  std::shared_ptr<Statuses> statuses_ = std::make_shared<Statuses>();
};

// The simulator variant as built, beside the test binary.
std::u16string SimulatorVariantPath(const std::string& variant);

}  // namespace kavenor::testing
