// Start-up and idle cost of the built program (Linux), each against a baseline of the same run:
//  1. from process start to the port accepting connections, against a start that the single-
//     instance rule refuses (the same process start and driver loading, no service): the
//     difference is what the shell and the service add;
//  2. Kavenor.exe under Wine, where Wine and a display are at hand (printed; Wine's own start
//     dominates);
//  3. wake-ups per second of the idle program and its reader host together: context switches of all
//     their threads over a quiet interval (bound 0.2 per second; a program that only waits: 0), and
//     the idle reader host's resident memory (bound 16 MB).
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "service/web_socket_test_client.h"

namespace {

using kavenor::bench::Accepts;
using kavenor::bench::Spawn;
using kavenor::testing::FreePort;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kStarts = 15;
constexpr double kIdleSeconds = 5.0;

void Stop(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A scratch copy of an app folder with its own port, started as a normal start.
struct AppCopy {
  AppCopy(const fs::path& app, const std::string& name) : dir(fs::temp_directory_path() / name), port(FreePort()) {
    fs::remove_all(dir);
    fs::copy(app, dir, fs::copy_options::recursive);
    std::ofstream(dir / "Config.ini") << "[IP]\nport=" << port << "\nRestart=0\n";
    for (const char* sdk : {"ORV5A", "ORV5U", "ORV5ULN"}) std::ofstream(dir / sdk / "scenario.ini") << "ports=1\n";
  }
  ~AppCopy() { fs::remove_all(dir); }
  fs::path dir;
  uint16_t port;
};

// Milliseconds from the spawn until `ready` holds.
template <typename Ready>
double TimeUntil(const std::vector<std::string>& args, const fs::path& dir, pid_t& pid, Ready ready) {
  const auto start = Clock::now();
  pid = Spawn(args, dir.string());
  while (!ready(pid)) std::this_thread::sleep_for(std::chrono::microseconds(200));
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long ContextSwitches(pid_t pid) {
  long total = 0;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::stol(line.substr(line.find(':') + 1));
  }
  return total;
}

// The program's children: its reader host.
std::vector<pid_t> Children(pid_t pid) {
  std::vector<pid_t> children;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream list(task.path() / "children");
    for (pid_t child; list >> child;) children.push_back(child);
  }
  return children;
}

double ResidentMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

// The program's context switches and its children's.
long FamilySwitches(pid_t pid) {
  long total = ContextSwitches(pid);
  for (pid_t child : Children(pid)) total += ContextSwitches(child);
  return total;
}

}  // namespace

int main(int, char** argv) {
  const fs::path root = fs::canonical(fs::path(argv[0])).parent_path().parent_path().parent_path().parent_path();
  const fs::path linuxApp = root / "build/linux/app";
  if (!fs::exists(linuxApp / "kavenor")) {
    std::printf("startup_bench: build the Linux app folder first (scripts/build.sh linux)\n");
    return 1;
  }

  AppCopy copy(linuxApp, "kavenor-startup-bench");
  const std::string program = (copy.dir / "kavenor").string();
  std::vector<double> serving, refused;
  long idleSwitches = 0;
  double hostMb = 0;
  size_t hosts = 0;
  for (int i = 0; i < kStarts; ++i) {
    pid_t first = -1, second = -1;
    serving.push_back(TimeUntil({program}, copy.dir, first, [&](pid_t) { return Accepts(copy.port); }));
    refused.push_back(TimeUntil({program}, copy.dir, second, [](pid_t p) { return waitpid(p, nullptr, WNOHANG) == p; }));
    if (i == kStarts - 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
      const long before = FamilySwitches(first);
      std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
      idleSwitches = FamilySwitches(first) - before;
      const std::vector<pid_t> children = Children(first);
      hosts = children.size();
      for (pid_t child : children) hostMb += ResidentMb(child);
    }
    Stop(first);
  }
  std::printf("1. start-up, median of %d starts\n", kStarts);
  std::printf("  %-48s %8.1f ms\n", "process start to the port accepting", Median(serving));
  std::printf("  %-48s %8.1f ms\n", "baseline: a start refused by the running one", Median(refused));
  std::printf("  %-48s %8.1f ms\n", "what the shell and service add", Median(serving) - Median(refused));

  const char* display = std::getenv("DISPLAY");
  const fs::path winApp = root / "build/win64/app";
  std::printf("2. Kavenor.exe under Wine\n");
  if (display && *display && fs::exists(winApp / "Kavenor.exe") && fs::exists("/usr/bin/wine")) {
    AppCopy wine(winApp, "kavenor-startup-bench-wine");
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
      pid_t pid = -1;
      times.push_back(TimeUntil({(root / "scripts/wine-run").string(), (wine.dir / "Kavenor.exe").string()}, wine.dir,
                                pid, [&](pid_t) { return Accepts(wine.port); }));
      Stop(pid);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    std::printf("  %-48s %8.1f ms (the first %.1f ms, with the Wine prefix's own start)\n",
                "process start to the port accepting, median of 3", Median(times), times[0]);
  } else {
    std::printf("  not measured: needs DISPLAY, Wine and build/win64/app\n");
  }

  const double wakeUps = idleSwitches / kIdleSeconds;
  const bool wakeOk = wakeUps <= 0.2, hostOk = hosts == 1 && hostMb < 16.0;
  std::printf("3. idle program and reader host\n");
  std::printf("  %-48s %8.1f per second (over %.0f s; bound 0.2) %s\n", "context switches of all their threads",
              wakeUps, kIdleSeconds, wakeOk ? "OK" : "OVER");
  std::printf("  %-48s %8.1f MB (%zu host; bound 16 MB) %s\n", "reader host's resident memory (VmRSS)", hostMb, hosts,
              hostOk ? "OK" : "OVER");
  return wakeOk && hostOk ? 0 : 1;
}
