// Service benchmarks (Linux), each figure against a baseline measured in the same run, all with the
// same client (plain Asio sockets on this process's main thread) and the command 6 (memory-card
// request) under model 1, the simulated reader's delays 0:
//  1. the service run in-process on its own thread against a bare echo endpoint built from the same
//     headers and configuration (debug_custom, logs set as the service sets them, both writing
//     standard output to a scratch file), with 1 and 50 connections: median and p99 (bound 1.25);
//  2. the program itself (scratch copies of the app folder, run as child processes, standard output
//     to a file): one copy with 1,000 more idle connections open against one without (bound 1.5),
//     and the loaded copy's resident memory (bound 64 MB);
//  3. the access log's cost: the unloaded copy against a third started with standard output
//     closed, as a windowed start has it, where no access-log line is formatted (printed, not bounded).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/device_model.h"
#include "common/exe_dir.h"
#include "common/status_message.h"
#include "common/test_support.h"
#include "common/text.h"
#include "reader/reader_test_support.h"
#include "service/command_dispatch.h"
#include "service/service_endpoint.h"
#include "service/web_socket_server.h"
#include "service/web_socket_test_client.h"

extern char** environ;

namespace kavenor {
namespace {

namespace asio = websocketpp::lib::asio;
using Tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

const char kCommand[] = "6";  // model 1: M1Request with no pause, the cheapest reader command
constexpr double kEchoBound = 1.25;
constexpr double kLoadedBound = 1.5;
constexpr double kResidentBoundMb = 64.0;
constexpr size_t kIdleConnections = 1000;

// Results go to the standard output the bench was started with; the process's descriptor 1 leads
// to a scratch file while the in-process servers write their logs to it.
std::FILE* g_report = stdout;

void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(g_report, format, args);
  va_end(args);
  std::fflush(g_report);
}

// ---- figures

struct Figure {
  double median = 0;
  double p99 = 0;
  size_t count = 0;
};

Figure Summarise(std::vector<double> us) {
  Figure f;
  f.count = us.size();
  if (us.empty()) return f;
  std::sort(us.begin(), us.end());
  f.median = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return f;
}

bool g_allOk = true;

// One bounded ratio: "name: ratio (bound b) OK|OVER".
void Ratio(const char* name, double value, double bound) {
  const bool ok = value <= bound;
  g_allOk = g_allOk && ok;
  Report("  %-52s %6.3f (bound %.2f) %s\n", name, value, bound, ok ? "OK" : "OVER");
}

// One bounded amount: "name: value unit (bound b unit) OK|OVER".
void Amount(const char* name, double value, double bound, const char* unit) {
  const bool ok = value <= bound;
  g_allOk = g_allOk && ok;
  Report("  %-52s %6.1f %s (bound %.0f %s) %s\n", name, value, unit, bound, unit, ok ? "OK" : "OVER");
}

void Times(const char* name, const Figure& f) {
  Report("  %-52s median %8.1f us   p99 %8.1f us   (%zu round trips)\n", name, f.median, f.p99, f.count);
}

// ---- the client

// A WebSocket client over plain Asio sockets, run on the calling thread: the tests' frames and
// handshake, and round trips of its own, all connections at once.
class Client {
 public:
  explicit Client(uint16_t port) : port_(port) {}
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() { CloseAll(); }

  // Opens `n` more connections, each through its opening handshake. The first retries for a while:
  // the server may still be starting.
  void Open(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      auto c = std::make_unique<Connection>(io_);
      const auto deadline = Clock::now() + std::chrono::seconds(connections_.empty() ? 15 : 0);
      for (;;) {
        asio::error_code ec;
        c->socket.connect(Tcp::endpoint(asio::ip::make_address("127.0.0.1"), port_), ec);
        if (!ec) break;
        if (Clock::now() >= deadline) throw std::runtime_error("cannot connect: " + ec.message());
        c->socket.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      c->socket.set_option(Tcp::no_delay(true));
      Handshake(*c);
      connections_.push_back(std::move(c));
    }
  }

  size_t size() const { return connections_.size(); }

  // Each of the first `active` connections sends `command` and waits for its reply, `rounds` times,
  // all at once. Every reply must equal `expected`, or, when that is empty, the first reply seen
  // (which is returned in `expected`). Returns the round trips in microseconds.
  std::vector<double> RoundTrips(size_t active, const std::string& command, size_t rounds, std::string& expected) {
    if (active > connections_.size()) throw std::logic_error("more active connections than open");
    std::vector<double> out;
    out.reserve(active * rounds);
    failure_.clear();
    frame_ = testing::MaskedFrame(command);
    expected_ = &expected;
    times_ = &out;
    for (size_t i = 0; i < active; ++i) {
      connections_[i]->left = rounds;
      Exchange(*connections_[i]);
    }
    io_.restart();
    io_.run_for(std::chrono::seconds(60));
    if (!io_.stopped()) failure_ = "no reply within 60 s";
    if (!failure_.empty()) throw std::runtime_error(failure_);
    return out;
  }

  // Sends one message and waits for nothing.
  void SendOnly(const std::string& payload) {
    asio::write(connections_.at(0)->socket, asio::buffer(testing::MaskedFrame(payload)));
  }

  void CloseAll() {
    for (auto& c : connections_) {
      asio::error_code ec;
      c->socket.close(ec);
    }
    connections_.clear();
  }

 private:
  struct Connection {
    explicit Connection(asio::io_context& io) : socket(io) {}
    Tcp::socket socket;
    std::array<uint8_t, 4096> in{};
    size_t used = 0;
    size_t left = 0;
    Clock::time_point sent;
  };

  static void Handshake(Connection& c) {
    std::string after;
    const std::string head = testing::OpeningHandshake(c.socket, after);
    if (head.compare(0, 12, "HTTP/1.1 101") != 0)
      throw std::runtime_error("handshake refused: " + head.substr(0, head.find('\r')));
    if (!after.empty()) throw std::runtime_error("bytes after the handshake response");
  }

  void Fail(const std::string& what) {
    if (failure_.empty()) failure_ = what;
    io_.stop();
  }

  void Exchange(Connection& c) {
    c.sent = Clock::now();
    asio::async_write(c.socket, asio::buffer(frame_), [this](const asio::error_code& ec, size_t) {
      if (ec) Fail("send: " + ec.message());
    });
    Read(c);
  }

  void Read(Connection& c) {
    c.socket.async_read_some(asio::buffer(c.in.data() + c.used, c.in.size() - c.used),
                             [this, &c](const asio::error_code& ec, size_t n) {
                               if (ec) return Fail("receive: " + ec.message());
                               c.used += n;
                               OnBytes(c);
                             });
  }

  // One whole unmasked text frame from the server, or a wait for more bytes.
  void OnBytes(Connection& c) {
    const uint8_t* b = c.in.data();
    const std::optional<testing::FrameHeader> h =
        testing::ParseFrameHeader(std::string_view(reinterpret_cast<const char*>(b), c.used));
    if (!h) return Read(c);
    if (!h->fin || h->opcode != 1) return Fail("not a final text frame: first byte " + std::to_string(b[0]));
    if (h->masked) return Fail("a masked frame from the server");
    if (h->payload > c.in.size() - h->size) return Fail("a reply too long for the bench");
    const size_t header = h->size, length = static_cast<size_t>(h->payload);
    if (c.used < header + length) return Read(c);
    if (c.used != header + length) return Fail("more than one frame for one command");

    times_->push_back(std::chrono::duration<double, std::micro>(Clock::now() - c.sent).count());
    std::string reply(reinterpret_cast<const char*>(b + header), length);
    c.used = 0;
    if (expected_->empty()) *expected_ = reply;
    if (reply != *expected_) return Fail("unexpected reply: " + reply);
    if (--c.left > 0) Exchange(c);
  }

  uint16_t port_;
  asio::io_context io_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::string frame_;
  std::string* expected_ = nullptr;
  std::vector<double>* times_ = nullptr;
  std::string failure_;
};

// Round trips of `chunks` alternating runs on each client, so that a drift of the machine's speed
// falls on both sides of a ratio alike.
void Alternate(Client& a, std::string& aReply, std::vector<double>& aTimes, Client& b, std::string& bReply,
               std::vector<double>& bTimes, size_t active, size_t rounds, int chunks) {
  for (int i = 0; i < chunks; ++i) {
    for (double t : a.RoundTrips(active, kCommand, rounds, aReply)) aTimes.push_back(t);
    for (double t : b.RoundTrips(active, kCommand, rounds, bReply)) bTimes.push_back(t);
  }
}

// A port free at this moment, for a server that reads its port from Config.ini.
uint16_t FreePort() {
  asio::io_context io;
  Tcp::acceptor acceptor(io, Tcp::endpoint(Tcp::v4(), 0));
  return acceptor.local_endpoint().port();
}

// Several copies run side by side: none makes the single-instance check.
void WriteConfig(const std::u16string& path, uint16_t port) {
  testing::WriteFileBytes(path, "[IP]\nport=" + std::to_string(port) + "\nRestart=1\n[Device]\nID=1\n");
}

// The memory-card request answers at once, from port 1.
void SetQuickReader(testing::SimulatedApp& app) {
  app.SetScenario(DriverKind::k5A, {{"ports", "1"}, {"delay_ms", "0"}, {"calllog", "0"}, {"reload", "0"}});
}

// ---- the servers

// A bare echo endpoint: the service's endpoint type with its logs set as the service sets them,
// answering every message with its own payload.
class EchoServer {
 public:
  EchoServer() {
    endpoint_.get_alog().set_ostream(&std::cout);
    endpoint_.get_elog().set_ostream(&std::cerr);
    endpoint_.set_access_channels(websocketpp::log::alevel::all);
    endpoint_.clear_access_channels(websocketpp::log::alevel::frame_payload);
    endpoint_.set_error_channels(websocketpp::log::elevel::all);
    endpoint_.init_asio();
    endpoint_.set_reuse_addr(true);
    endpoint_.set_message_handler([this](websocketpp::connection_hdl hdl, ServiceEndpoint::message_ptr msg) {
      websocketpp::lib::error_code ec;
      endpoint_.send(hdl, msg->get_payload(), msg->get_opcode(), ec);
    });
    endpoint_.set_tcp_pre_bind_handler([](ServiceEndpoint::acceptor_ptr acceptor) {
      acceptor->set_option(asio::ip::v6_only(false));
      return websocketpp::lib::error_code();
    });
    endpoint_.listen(Tcp::endpoint(Tcp::v6(), 0));
    asio::error_code ec;
    port_ = endpoint_.get_local_endpoint(ec).port();
    if (ec) throw std::runtime_error("echo server: no local endpoint: " + ec.message());
    endpoint_.start_accept();
    thread_ = std::thread([this] { endpoint_.run(); });
  }
  ~EchoServer() {
    endpoint_.stop();
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  ServiceEndpoint endpoint_;
  uint16_t port_ = 0;
  std::thread thread_;
};

// The service, in this process, on its own thread, in a scratch app folder.
class InProcessService {
 public:
  InProcessService() : port_(FreePort()) {
    WriteConfig(app_.configPath(), port_);
    SetQuickReader(app_);
    drivers_ = app_.MakeDrivers();
    server_ = std::make_unique<CWebSocketServer>(*drivers_, app_.configPath(), app_.moduleDir());
    thread_ = std::thread([this] {
      server_->Run();
      ended_ = true;
    });
  }
  uint16_t port() const { return port_; }

  // After "stop-listening" and the last connection gone, the service's loop runs out of work.
  // False when it did not end in time; the thread is then left running and this object must live on.
  bool WaitEnded() {
    for (int i = 0; i < 200 && !ended_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!ended_) return false;
    thread_.join();
    return true;
  }

 private:
  testing::SimulatedApp app_{"full"};
  uint16_t port_;
  std::unique_ptr<ReaderDrivers> drivers_;
  std::unique_ptr<CWebSocketServer> server_;
  std::thread thread_;
  std::atomic<bool> ended_{false};
};

// The built program in a scratch copy of the app folder, run as a child process until this object
// goes (SIGTERM to its id, then SIGKILL if it lingers).
class ChildProgram {
 public:
  // `stdoutToFile`: standard output to stdout.log in the folder; otherwise closed.
  ChildProgram(const std::u16string& program, bool stdoutToFile) : port_(FreePort()) {
    const std::u16string copy = app_.dir().Join(u"kavenor");
    testing::CopyFileTo(program, copy);
    WriteConfig(app_.configPath(), port_);
    SetQuickReader(app_);

    const std::string path = Utf16ToUtf8(copy);
    const std::string out = Utf16ToUtf8(app_.dir().Join(u"stdout.log"));
    const std::string err = Utf16ToUtf8(app_.dir().Join(u"stderr.log"));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutToFile)
      posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    else
      posix_spawn_file_actions_addclose(&actions, 1);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const int error = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + path + ": " + std::strerror(error));
  }
  ~ChildProgram() {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  uint16_t port() const { return port_; }

  // VmRSS from /proc/<pid>/status.
  double ResidentMb() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.compare(0, 6, "VmRSS:") == 0) return std::stod(line.substr(6)) / 1024.0;
    throw std::runtime_error("no VmRSS for the program");
  }

  std::string StdoutText() const { return testing::ReadFileBytes(app_.dir().Join(u"stdout.log")); }

 private:
  testing::SimulatedApp app_{"full"};
  uint16_t port_;
  pid_t pid_ = -1;
};

// ---- the benchmarks

constexpr size_t kWarmUp = 200;

void Warm(Client& c, std::string& reply, size_t active) {
  c.RoundTrips(active, kCommand, kWarmUp / active + 1, reply);
}

// A memory-card request that worked answers "<identifier>|<request bytes>".
void CheckReply(const std::string& reply, const char* server) {
  if (reply.find('|') == std::string::npos)
    throw std::runtime_error(std::string(server) + " answered \"" + reply + "\", not a memory-card request");
}

// The command's own time without any socket: the dispatch and the simulated reader (its scenario
// read and call log), the share of a round trip that an echo has no counterpart for.
Figure CommandAlone() {
  testing::SimulatedApp app("full");
  SetQuickReader(app);
  std::unique_ptr<ReaderDrivers> drivers = app.MakeDrivers();
  const Command command = *ParseCommand(kCommand);
  std::vector<double> us;
  for (size_t i = 0; i < kWarmUp + 3000; ++i) {
    const auto t0 = Clock::now();
    std::u16string reply = RunCommand(command, kModelOrv5a, *drivers);
    const auto t1 = Clock::now();
    if (reply.find(u'|') == std::u16string::npos) throw std::runtime_error("the command alone failed");
    if (i >= kWarmUp) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    if (i % 500 == 0) app.ClearCalls(DriverKind::k5A);
  }
  return Summarise(us);
}

void CompareWithEcho(InProcessService& service) {
  const Figure alone = CommandAlone();
  EchoServer echo;
  Client toService(service.port()), toEcho(echo.port());
  std::string serviceReply, echoReply = kCommand;
  for (size_t connections : {size_t{1}, size_t{50}}) {
    toService.Open(connections - toService.size());
    toEcho.Open(connections - toEcho.size());
    Warm(toService, serviceReply, connections);
    CheckReply(serviceReply, "the service");
    Warm(toEcho, echoReply, connections);
    std::vector<double> s, e;
    const size_t rounds = connections == 1 ? 300 : 60;
    const int chunks = connections == 1 ? 20 : 10;
    Alternate(toService, serviceReply, s, toEcho, echoReply, e, connections, rounds, chunks);
    const Figure fs = Summarise(s), fe = Summarise(e);
    Report(" %zu connection%s (reply \"%s\"):\n", connections, connections == 1 ? "" : "s", serviceReply.c_str());
    Times("service", fs);
    Times("echo", fe);
    Ratio("service / echo, median", fs.median / fe.median, kEchoBound);
    Ratio("service / echo, p99", fs.p99 / fe.p99, kEchoBound);
    if (connections == 1) {
      Times("for comparison: the command alone, no sockets", alone);
      Report("  %-52s %6.3f (not bounded)\n", "(service - command alone) / echo, median",
             (fs.median - alone.median) / fe.median);
    }
  }
}

// Returns false when the service's thread could not be stopped (it must then be left alone).
bool EchoComparison() {
  Report("1. service in-process against a bare echo endpoint, same configuration "
         "(access log as configured, standard output to a file for both)\n");
  auto service = std::make_unique<InProcessService>();
  try {
    CompareWithEcho(*service);
  } catch (const std::exception& e) {
    Report("  failed: %s\n", e.what());
    g_allOk = false;
  }
  // Every connection of the comparison is closed by now; this one ends the listening.
  try {
    Client stopper(service->port());
    stopper.Open(1);
    stopper.SendOnly("stop-listening");
  } catch (const std::exception& e) {
    Report("  cannot send stop-listening: %s\n", e.what());
  }
  if (!service->WaitEnded()) {
    Report("  the in-process service did not end after stop-listening\n");
    g_allOk = false;
    service.release();  // its thread still uses it
    return false;
  }
  return true;
}

void ProgramBenchmarks(const std::u16string& program) {
  // Three copies side by side: one to load with idle connections, one left unloaded, both with
  // standard output to a file, and one with standard output closed.
  ChildProgram loaded(program, true), unloaded(program, true), quiet(program, false);
  Client toLoaded(loaded.port()), toUnloaded(unloaded.port()), toQuiet(quiet.port());
  std::string loadedReply, unloadedReply, quietReply;
  for (Client* c : {&toLoaded, &toUnloaded, &toQuiet}) c->Open(1);
  Warm(toLoaded, loadedReply, 1);
  CheckReply(loadedReply, "the program");
  Warm(toUnloaded, unloadedReply, 1);
  Warm(toQuiet, quietReply, 1);
  CheckReply(quietReply, "the program with standard output closed");

  std::vector<double> u, q;
  Alternate(toUnloaded, unloadedReply, u, toQuiet, quietReply, q, 1, 300, 20);
  const Figure logged = Summarise(u), cleared = Summarise(q);
  const double restingMb = loaded.ResidentMb();

  toLoaded.Open(kIdleConnections);
  Warm(toLoaded, loadedReply, 1);
  std::vector<double> l;
  u.clear();
  Alternate(toLoaded, loadedReply, l, toUnloaded, unloadedReply, u, 1, 300, 20);
  const Figure withIdle = Summarise(l), without = Summarise(u);
  const double loadedMb = loaded.ResidentMb();

  Report("2. the program as a child process (standard output to a file), %zu idle connections open\n",
         kIdleConnections);
  Times("1 connection beside 1000 idle ones", withIdle);
  Times("1 connection, a second copy without idle ones", without);
  Ratio("loaded / unloaded, median", withIdle.median / without.median, kLoadedBound);
  Ratio("loaded / unloaded, p99", withIdle.p99 / without.p99, kLoadedBound);
  Report("  %-52s %6.1f MB\n", "resident memory (VmRSS) with 1 connection", restingMb);
  Amount("resident memory (VmRSS) with 1001 connections", loadedMb, kResidentBoundMb, "MB");

  Report("3. access log: standard output to a file against standard output closed "
         "(a windowed start: access log cleared)\n");
  const bool accessLogged = unloaded.StdoutText().find("frame_header") != std::string::npos;
  Report("  access-log lines in the first's file: %s\n", accessLogged ? "yes" : "NONE");
  Times("logs as configured", logged);
  Times("access log cleared", cleared);
  Report("  %-52s %6.3f (not bounded)\n", "as configured / cleared, median", logged.median / cleared.median);
  g_allOk = g_allOk && accessLogged;
}

// Each connection is a descriptor: 1,000 and more need more than the usual soft limit.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int Main() {
  RaiseOpenFileLimit();
  signal(SIGPIPE, SIG_IGN);
  // The report keeps the original standard output; descriptor 1 (and 2, for the error logs) leads
  // to an unlinked scratch file from here on: a real file, so that the service formats its access
  // log as a console start would (it formats none for /dev/null), like the echo endpoint.
  g_report = fdopen(dup(STDOUT_FILENO), "w");
  char logPath[] = "/tmp/kavenor-bench-log-XXXXXX";
  const int logFile = mkstemp(logPath);
  if (!g_report || logFile < 0) return 2;
  unlink(logPath);
  std::fflush(stdout);
  dup2(logFile, STDOUT_FILENO);
  dup2(logFile, STDERR_FILENO);
  close(logFile);

  // The figures are ratios of runs made side by side, but a busy machine still widens the p99s.
  std::ifstream loadavg("/proc/loadavg");
  double load = 0;
  loadavg >> load;
  Report("load average %.2f on %u CPUs\n", load, std::thread::hardware_concurrency());

  const std::u16string program = JoinPath(JoinPath(JoinPath(GetExeDir(), u".."), u"app"), u"kavenor");
  const auto start = Clock::now();
  bool ended = true;
  try {
    ended = EchoComparison();
    if (!testing::FileExists(program)) {
      Report("2./3. no program at %s: build the target app first\n", Utf16ToUtf8(program).c_str());
      g_allOk = false;
    } else {
      ProgramBenchmarks(program);
    }
  } catch (const std::exception& e) {
    Report("benchmark failed: %s\n", e.what());
    g_allOk = false;
  }
  Report("%s in %.0f s\n", g_allOk ? "all within bounds" : "NOT all within bounds",
         std::chrono::duration<double>(Clock::now() - start).count());
  const int code = g_allOk ? 0 : 1;
  // A service thread that did not end still uses its objects: leave without destroying them.
  if (!ended) std::_Exit(code);
  return code;
}

}  // namespace
}  // namespace kavenor

int main() { return kavenor::Main(); }
