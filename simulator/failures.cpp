#include "simulator/failures.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/clock.h"
#include "common/file_io.h"
#include "common/text.h"
#include "simulator/call_log.h"
#include "simulator/library_dir.h"

namespace kavenor::sim {
namespace {

// Whether the once failure `key` is due; when it is, its marker is written and closed first, so that
// it is in the file system before the process fails.
bool TakeOnce(const std::string& key, const std::string& identity) {
  const std::u16string marker = BesideLibrary(Utf8ToUtf16("failed." + key));
  std::string held;
  if (ReadWholeFile(marker, held) && held == identity) return false;
  std::ofstream out(std::filesystem::path(marker), std::ios::binary | std::ios::trunc);
  out << identity;
  out.close();
  return !out.fail();
}

[[noreturn]] void Fail(Failure how) {
  switch (how) {
    case Failure::kCrash: {
      // A real access violation: the pointer is volatile, so the compiler keeps the write.
      volatile int* volatile nowhere = nullptr;
      *nowhere = 1;
      break;
    }
    case Failure::kAbort:
      break;
    case Failure::kHang:
      for (;;) SleepMs(60 * 1000);
  }
  std::abort();
}

}  // namespace

bool FailureAsked(const Scenario& scenario, const std::string& point) {
  for (Failure how : kFailures)
    if (scenario.failures.count(FailureKey(how, point))) return true;
  return false;
}

void FailIfAsked(const Scenario& scenario, const std::string& point) {
  if (scenario.failures.empty()) return;
  for (Failure how : kFailures) {
    const std::string key = FailureKey(how, point);
    auto it = scenario.failures.find(key);
    if (it == scenario.failures.end()) continue;
    if (it->second == Repeat::kOnce && !TakeOnce(key, scenario.fileIdentity)) continue;
    Fail(how);
  }
}

void FailAtLoadIfAsked() {
  const Scenario scenario = ReadScenarioFile(BesideLibrary(kScenarioFileName));
  if (!FailureAsked(scenario, kLoadPoint)) return;
  if (scenario.callLog)
    AppendLogLine(BesideLibrary(kCallLogFileName), std::to_string(TickCountMs()) + " " + kLoadPoint);
  FailIfAsked(scenario, kLoadPoint);
}

}  // namespace kavenor::sim
