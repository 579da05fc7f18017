#include "reader/reader_test_support.h"

#include <cstdlib>

#include "common/exe_dir.h"
#include "common/shared_library.h"
#include "common/status_message.h"
#include "common/text.h"

namespace kavenor::testing {

std::u16string SimulatorVariantPath(const std::string& variant) {
  return JoinPath(JoinPath(JoinPath(GetExeDir(), u"sim"), Utf8ToUtf16(variant)), SharedLibrary::FileName(u"kadrel"));
}

SimulatedApp::SimulatedApp(const std::string& variant, const std::vector<DriverKind>& folders)
    : dir_(u"kavenor-reader") {
  for (DriverKind kind : folders) {
    MakeDirs(SdkDir(kind));
    CopyFileTo(SimulatorVariantPath(variant), JoinPath(SdkDir(kind), SharedLibrary::FileName(u"kadrel")));
  }
}

std::u16string SimulatedApp::moduleDir() const { return dir_.path() + kPathSeparator; }

std::u16string SimulatedApp::SdkDir(DriverKind kind) const { return dir_.Join(SdkFolderName(kind)); }

void SimulatedApp::SetScenario(DriverKind kind, const std::vector<std::pair<std::string, std::string>>& lines) {
  std::string text;
  for (const auto& [key, value] : lines) text += key + "=" + value + "\n";
  SetScenarioText(kind, text);
}

void SimulatedApp::SetScenarioText(DriverKind kind, const std::string& text) {
  WriteFileBytes(JoinPath(SdkDir(kind), u"scenario.ini"), text);
}

std::vector<Call> SimulatedApp::Calls(DriverKind kind) const {
  std::vector<Call> calls;
  for (const std::string& line : ReadLines(JoinPath(SdkDir(kind), u"calls.log"))) {
    Call call;
    size_t space = line.find(' ');
    call.ms = std::strtoull(line.substr(0, space).c_str(), nullptr, 10);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    size_t next = rest.find(' ');
    call.name = rest.substr(0, next);
    call.args = next == std::string::npos ? "" : rest.substr(next + 1);
    calls.push_back(call);
  }
  return calls;
}

std::vector<std::string> SimulatedApp::CallTexts(DriverKind kind) const {
  std::vector<std::string> out;
  for (const Call& c : Calls(kind)) out.push_back(c.Text());
  return out;
}

std::vector<std::string> SimulatedApp::CallNames(DriverKind kind) const {
  std::vector<std::string> out;
  for (const Call& c : Calls(kind)) out.push_back(c.name);
  return out;
}

void SimulatedApp::ClearCalls(DriverKind kind) { RemoveFile(JoinPath(SdkDir(kind), u"calls.log")); }

std::unique_ptr<ReaderDriver> SimulatedApp::MakeDriver(DriverKind kind) {
  auto driver = std::make_unique<ReaderDriver>(kind, moduleDir(),
                                               [this](const std::u16string& m) { messages.push_back(m); });
  driver->SetStatusSink(statusSink());
  return driver;
}

std::unique_ptr<ReaderDrivers> SimulatedApp::MakeDrivers() {
  auto drivers = std::make_unique<ReaderDrivers>(moduleDir(),
                                                 [this](const std::u16string& m) { messages.push_back(m); });
  drivers->SetStatusSink(statusSink());
  return drivers;
}

StatusSink SimulatedApp::statusSink() {
  // Shared, so that a driver that outlives this object reports into nothing harmful.
  return [statuses = statuses_](uint32_t code) {
    std::lock_guard<std::mutex> lock(statuses->mutex);
    statuses->codes.push_back(code);
  };
}

std::vector<uint32_t> SimulatedApp::TakeStatuses() {
  std::lock_guard<std::mutex> lock(statuses_->mutex);
  return std::exchange(statuses_->codes, {});
}

}  // namespace kavenor::testing
