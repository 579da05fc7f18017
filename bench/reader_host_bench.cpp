// The reader host's cost: the same commands run through the host and in this process, alternately,
// against the same simulated reader (delays 0, no call log):
//  1. the cheapest command (a memory-card request): less than 1 ms added at the median (the ratio is
//     printed; bounded in service_bench, where the round trip is a page's);
//  2. a 1 MB card record (one 1 MB card image), and 3. the whole ORV5U read of a 40 KB photo and
//     two 1 MB card images: within 1.2 times in-process.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "common/device_model.h"
#include "common/exe_dir.h"
#include "common/text.h"
#include "reader/reader_test_support.h"
#include "reader_host/isolated_reader.h"

namespace kavenor {
namespace {

using Clock = std::chrono::steady_clock;

double MedianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Medians {
  double host = 0, local = 0;  // microseconds
};

// Runs `message` alternately through each reader, `runs` times after a warm-up; false when a reply differs.
bool Alternate(ReaderBackend& host, ReaderBackend& local, const std::string& message, int32_t model, int runs,
               Medians& out) {
  const Command command = *ParseCommand(message);
  std::vector<double> hostUs, localUs;
  for (int i = 0; i < runs + 5; ++i) {
    const auto t0 = Clock::now();
    // The reply as the program hands it on: converted to UTF-8 from where it lies.
    const std::string a = Utf16ToUtf8(host.Run(command, model).value_or(u""));
    const auto t1 = Clock::now();
    const std::string b = Utf16ToUtf8(local.Run(command, model).value_or(u""));
    const auto t2 = Clock::now();
    host.Recover();
    local.Recover();
    if (a != b) return false;
    if (i < 5) continue;
    hostUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    localUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  out = {MedianOf(hostUs), MedianOf(localUs)};
  return true;
}

bool Figure(const char* name, const Medians& m, double ratioBound, double addedBoundUs) {
  const double ratio = m.host / m.local, added = m.host - m.local;
  const bool ok = (ratioBound <= 0 || ratio <= ratioBound) && (addedBoundUs <= 0 || added < addedBoundUs);
  std::printf("%s: median through the host %.0f us, in this process %.0f us, ratio %.3f", name, m.host, m.local, ratio);
  if (ratioBound > 0) std::printf(" (bound %.1f)", ratioBound);
  std::printf(", added %.0f us", added);
  if (addedBoundUs > 0) std::printf(" (bound %.0f us)", addedBoundUs);
  std::printf(" %s\n", ok ? "OK" : "OVER");
  return ok;
}

}  // namespace

bool ReaderHostBench() {
  testing::SimulatedApp app("full");
  testing::CopyFileTo(JoinPath(JoinPath(GetExeDir(), u"../app"), kHostExecutableName),
                      app.dir().Join(kHostExecutableName));
  const std::vector<std::pair<std::string, std::string>> quick = {{"ports", "1"}, {"delay_ms", "0"}, {"calllog", "0"}};
  auto card = [&](const char* photo, const char* front, const char* back) {
    std::vector<std::pair<std::string, std::string>> lines = quick;
    lines.insert(lines.end(), {{"Getbase64BMPDataU.size", photo},
                               {"Getbase64FrontBMPDataU.size", front},
                               {"Getbase64backBMPDataU.size", back}});
    app.SetScenario(DriverKind::k5U, lines);
  };
  app.SetScenario(DriverKind::k5A, quick);
  card("40960", "1048576", "0");
  std::unique_ptr<ReaderDrivers> drivers = app.MakeDrivers();
  InProcessReader local(*drivers);
  HostSettings settings;
  settings.executable = app.dir().Join(kHostExecutableName);
  IsolatedReader host(settings, {});

  bool ok = true;
  Medians m;
  if (!Alternate(host, local, "6", kModelOrv5a, 2000, m)) return false;
  ok = Figure("memory-card request (the cheapest command)", m, 0, 1000) && ok;
  if (!Alternate(host, local, "3", kModelOrv5u, 101, m)) return false;
  ok = Figure("ORV5U read, 40 KB photo + one 1 MB card image (a 1 MB record)", m, 1.2, 0) && ok;
  card("40960", "1048576", "1048576");
  if (!Alternate(host, local, "3", kModelOrv5u, 101, m)) return false;
  ok = Figure("ORV5U read, 40 KB photo + 2 x 1 MB card images", m, 1.2, 0) && ok;
  return ok;
}

}  // namespace kavenor
