// What the Linux benchmarks share: the built program run as a child, a round-trip client, the
// figures and how they are reported.
#pragma once

#include <sys/types.h>

#include <boost/asio.hpp>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "reader/reader_test_support.h"

namespace kavenor::bench {

using Clock = std::chrono::steady_clock;

// Each connection is a descriptor: 1,000 and more need more than the usual soft limit.
void RaiseOpenFileLimit();

// Whether a TCP connection to the port on 127.0.0.1 is taken.
bool Accepts(uint16_t port);

// Starts `args` (the program first) in `dir`: standard input from /dev/null, standard output to
// dir/stdout.log (or closed, as a windowed start has it), standard error to dir/stderr.log.
// Returns the process id, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& dir, bool stdoutToFile = true);

// SIGTERM, then SIGKILL when the process has not ended after two seconds; reaps it.
void EndChild(pid_t pid);

// The built program in a scratch app folder with the simulated reader, run as a child process
// until this object goes. Config.ini holds its port, model 1 and Restart=1 (several copies run side
// by side), the ORV5A reader answers at once on port 1; `scenario` adds to or replaces its lines.
class ChildProgram {
 public:
  // The reader host beside `program` is copied too. `configExtra`: more Config.ini lines.
  ChildProgram(const std::u16string& program, bool stdoutToFile,
               const std::vector<std::pair<std::string, std::string>>& scenario = {},
               const std::string& configExtra = {});
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  uint16_t port() const { return port_; }
  testing::SimulatedApp& app() { return app_; }
  double ResidentMb() const;  // VmRSS
  std::string StdoutText() const;

 private:
  testing::SimulatedApp app_{"full"};
  uint16_t port_;
  pid_t pid_ = -1;
};

// The reader scenario of the benchmarks: the ORV5A reader on port 1, no delays, no call log, the
// scenario read once; `extra` lines are laid over it.
void SetQuickReader(testing::SimulatedApp& app, const std::vector<std::pair<std::string, std::string>>& extra = {});

// Writes Config.ini for `port` and model 1, as a relaunch (no single-instance check); `extra` lines
// before them override them.
void WriteBenchConfig(const std::u16string& path, uint16_t port, const std::string& extra = {});

// A WebSocket client over plain Asio sockets, run on the calling thread: many connections, each
// through its opening handshake, and round trips on all of them at once.
class RoundTripClient {
 public:
  explicit RoundTripClient(uint16_t port) : port_(port) {}
  RoundTripClient(const RoundTripClient&) = delete;
  RoundTripClient& operator=(const RoundTripClient&) = delete;
  ~RoundTripClient() { CloseAll(); }

  // Opens `n` more connections. The first retries for a while: the server may still be starting.
  void Open(size_t n);
  size_t size() const { return connections_.size(); }

  // Each of the first `active` connections sends `command` and waits for its reply, `rounds` times,
  // all at once. Every reply must equal `expected`, or, when that is empty, the first reply seen
  // (which is returned in `expected`). Returns the round trips in microseconds.
  std::vector<double> RoundTrips(size_t active, const std::string& command, size_t rounds, std::string& expected);

  // Sends one message on the first connection and waits for nothing.
  void SendOnly(const std::string& payload);
  void CloseAll();

 private:
  struct Connection {
    explicit Connection(boost::asio::io_context& io) : socket(io) {}
    boost::asio::ip::tcp::socket socket;
    std::vector<uint8_t> in = std::vector<uint8_t>(4096);  // grown for a longer reply
    size_t used = 0;
    size_t left = 0;
    Clock::time_point sent;
  };

  void Fail(const std::string& what);
  void Exchange(Connection& c);
  void Read(Connection& c);
  void OnBytes(Connection& c);

  uint16_t port_;
  boost::asio::io_context io_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::string frame_;
  std::string* expected_ = nullptr;
  std::vector<double>* times_ = nullptr;
  std::string failure_;
};

// ---- figures and their report

struct Figure {
  double median = 0;
  double p99 = 0;
  size_t count = 0;
};
Figure Summarise(std::vector<double> us);

// Where the report goes (standard output unless a benchmark moves it).
extern std::FILE* g_report;
// False once any bounded figure was over its bound.
extern bool g_allOk;

void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "name: ratio (bound b) OK|OVER"
void Ratio(const char* name, double value, double bound);
// "name: value unit (bound b unit) OK|OVER"
void Amount(const char* name, double value, double bound, const char* unit);
// "name: median, p99 (count)"
void Times(const char* name, const Figure& f, const char* what = "round trips");

}  // namespace kavenor::bench
