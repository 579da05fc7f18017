// Service benchmarks (Linux), each figure against a baseline measured in the same run, all with the
// same client (plain Asio sockets on this process's main thread) and the command 6 (memory-card
// request) under model 1, the simulated reader's delays 0:
//  1. the service run in-process (its network thread and its reader thread) against two echo
//     endpoints built from the same headers and configuration (debug_custom, logs set as the
//     service sets them, all writing standard output to a scratch file): a bare echo that answers
//     on the network thread, and a hand-over echo that passes each message to a worker thread and
//     back, the least that any design pays that keeps the reader off the network thread. With 1 and
//     50 connections, median and p99: the service within 1.25 of the hand-over echo, and with 50
//     connections within 1.25 of the bare echo;
//  2. the program itself (scratch copies of the app folder, run as child processes, standard output
//     to a file): one copy with 1,000 more idle connections open against one without (bound 1.5),
//     and the loaded copy's resident memory (bound 64 MB);
//  3. the access log's cost: the unloaded copy against a third started with standard output
//     closed, as a windowed start has it, where no access-log line is formatted (printed, not bounded);
//  4. fetching the test page and completing a handshake while another client's waiting read runs,
//     against the same with the service idle (median bound 1.5);
//  5. the program with the reader SDK in the reader host (the default) against the program with it
//     in itself ([Reader] Isolated=0): the command's round trip within 1.3 at the median and less
//     than 1 ms added; an ORV5U read of a 1 MB record (one 1 MB card image) within 1.2.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "common/device_model.h"
#include "common/exe_dir.h"
#include "common/test_support.h"
#include "common/text.h"
#include "reader/reader_test_support.h"
#include "service/command_dispatch.h"
#include "service/service_endpoint.h"
#include "service/web_socket_server.h"
#include "service/web_socket_test_client.h"

namespace kavenor::bench {
namespace {

namespace asio = websocketpp::lib::asio;
using Tcp = asio::ip::tcp;

const char kCommand[] = "6";  // model 1: M1Request with no pause, the cheapest reader command
constexpr double kEchoBound = 1.25;
constexpr double kLoadedBound = 1.5;
constexpr double kBusyBound = 1.5;
constexpr double kResidentBoundMb = 64.0;
constexpr size_t kIdleConnections = 1000;
constexpr size_t kWarmUp = 200;

// ---- the servers

// An echo endpoint: the service's endpoint type with its logs set as the service sets them,
// answering every message with its own payload: at once on its network thread, or (`handOver`)
// after a worker thread has had it, as the service's reader thread has each command.
class EchoServer {
 public:
  explicit EchoServer(bool handOver) {
    endpoint_.get_alog().set_ostream(&std::cout);
    endpoint_.get_elog().set_ostream(&std::cerr);
    endpoint_.set_access_channels(websocketpp::log::alevel::all);
    endpoint_.clear_access_channels(websocketpp::log::alevel::frame_payload | websocketpp::log::alevel::devel |
                                    websocketpp::log::alevel::frame_header);
    endpoint_.set_error_channels(websocketpp::log::elevel::all);
    endpoint_.init_asio();
    endpoint_.set_reuse_addr(true);
    endpoint_.set_message_handler([this, handOver](websocketpp::connection_hdl hdl, ServiceEndpoint::message_ptr msg) {
      if (!handOver) return Send(hdl, msg->get_payload());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        work_.push_back({std::move(hdl), msg->get_payload()});
      }
      changed_.notify_one();
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
    if (handOver) worker_ = std::thread([this] { Work(); });
  }
  ~EchoServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_one();
    if (worker_.joinable()) worker_.join();
    endpoint_.stop();
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  void Send(const websocketpp::connection_hdl& hdl, const std::string& payload) {
    websocketpp::lib::error_code ec;
    endpoint_.send(hdl, payload, websocketpp::frame::opcode::text, ec);
  }

  // The worker: takes each message and hands it back to the network loop.
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !work_.empty(); });
      if (stopping_) return;
      auto [hdl, payload] = std::move(work_.front());
      work_.pop_front();
      asio::post(endpoint_.get_io_service(), [this, hdl = std::move(hdl), payload = std::move(payload)] { Send(hdl, payload); });
    }
  }

  ServiceEndpoint endpoint_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<websocketpp::connection_hdl, std::string>> work_;
  bool stopping_ = false;
};

// The service, in this process, on its own threads, in a scratch app folder.
class InProcessService {
 public:
  explicit InProcessService(const std::vector<std::pair<std::string, std::string>>& scenario = {})
      : port_(testing::FreePort()) {
    WriteBenchConfig(app_.configPath(), port_);
    SetQuickReader(app_, scenario);
    drivers_ = app_.MakeDrivers();
    backend_ = std::make_unique<InProcessReader>(*drivers_);
    server_ = std::make_unique<CWebSocketServer>(*backend_, app_.configPath(), app_.moduleDir());
    server_->Start();
  }
  ~InProcessService() { server_->Stop(); }
  uint16_t port() const { return port_; }

 private:
  testing::SimulatedApp app_{"full"};
  uint16_t port_;
  std::unique_ptr<ReaderDrivers> drivers_;
  std::unique_ptr<InProcessReader> backend_;
  std::unique_ptr<CWebSocketServer> server_;
};

// ---- the benchmarks

void Warm(RoundTripClient& c, std::string& reply, size_t active) {
  c.RoundTrips(active, kCommand, kWarmUp / active + 1, reply);
}

// A memory-card request that worked answers "<identifier>|<request bytes>".
void CheckReply(const std::string& reply, const char* server) {
  if (reply.find('|') == std::string::npos)
    throw std::runtime_error(std::string(server) + " answered \"" + reply + "\", not a memory-card request");
}

// The command's own time without any socket or thread: the dispatch and the simulated reader, the
// share of a round trip that an echo has no counterpart for.
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
  }
  return Summarise(us);
}

void CompareWithEchoes() {
  const Figure alone = CommandAlone();
  InProcessService service;
  EchoServer bare(false), handOver(true);
  RoundTripClient toService(service.port()), toBare(bare.port()), toHandOver(handOver.port());
  std::string serviceReply, bareReply = kCommand, handOverReply = kCommand;
  for (size_t connections : {size_t{1}, size_t{50}}) {
    for (RoundTripClient* c : {&toService, &toBare, &toHandOver}) c->Open(connections - c->size());
    Warm(toService, serviceReply, connections);
    CheckReply(serviceReply, "the service");
    Warm(toBare, bareReply, connections);
    Warm(toHandOver, handOverReply, connections);
    // Alternating runs, so that a drift of the machine's speed falls on every side of a ratio alike.
    std::vector<double> s, b, h;
    const size_t rounds = connections == 1 ? 300 : 60;
    const int chunks = connections == 1 ? 20 : 10;
    for (int i = 0; i < chunks; ++i) {
      for (double t : toService.RoundTrips(connections, kCommand, rounds, serviceReply)) s.push_back(t);
      for (double t : toBare.RoundTrips(connections, kCommand, rounds, bareReply)) b.push_back(t);
      for (double t : toHandOver.RoundTrips(connections, kCommand, rounds, handOverReply)) h.push_back(t);
    }
    const Figure fs = Summarise(s), fb = Summarise(b), fh = Summarise(h);
    Report(" %zu connection%s (reply \"%s\"):\n", connections, connections == 1 ? "" : "s", serviceReply.c_str());
    Times("service", fs);
    Times("bare echo", fb);
    Times("hand-over echo", fh);
    Ratio("service / hand-over echo, median", fs.median / fh.median, kEchoBound);
    Ratio("service / hand-over echo, p99", fs.p99 / fh.p99, kEchoBound);
    if (connections == 1) {
      Report("  %-56s %6.3f (not bounded)\n", "service / bare echo, median", fs.median / fb.median);
      Report("  %-56s %6.3f (not bounded)\n", "service / bare echo, p99", fs.p99 / fb.p99);
      Report("  %-56s %6.1f us\n", "a hand-over to a thread and back, median", fh.median - fb.median);
      Times("for comparison: the command alone, no sockets", alone, "commands");
    } else {
      Ratio("service / bare echo, median", fs.median / fb.median, kEchoBound);
      Ratio("service / bare echo, p99", fs.p99 / fb.p99, kEchoBound);
    }
  }
}

void ProgramBenchmarks(const std::u16string& program) {
  // Three copies side by side: one to load with idle connections, one left unloaded, both with
  // standard output to a file, and one with standard output closed.
  ChildProgram loaded(program, true), unloaded(program, true), quiet(program, false);
  RoundTripClient toLoaded(loaded.port()), toUnloaded(unloaded.port()), toQuiet(quiet.port());
  std::string loadedReply, unloadedReply, quietReply;
  for (RoundTripClient* c : {&toLoaded, &toUnloaded, &toQuiet}) c->Open(1);
  Warm(toLoaded, loadedReply, 1);
  CheckReply(loadedReply, "the program");
  Warm(toUnloaded, unloadedReply, 1);
  Warm(toQuiet, quietReply, 1);
  CheckReply(quietReply, "the program with standard output closed");

  auto alternate = [](RoundTripClient& a, std::string& aReply, std::vector<double>& aTimes, RoundTripClient& b,
                      std::string& bReply, std::vector<double>& bTimes) {
    for (int i = 0; i < 20; ++i) {
      for (double t : a.RoundTrips(1, kCommand, 300, aReply)) aTimes.push_back(t);
      for (double t : b.RoundTrips(1, kCommand, 300, bReply)) bTimes.push_back(t);
    }
  };
  std::vector<double> u, q;
  alternate(toUnloaded, unloadedReply, u, toQuiet, quietReply, q);
  const Figure logged = Summarise(u), cleared = Summarise(q);
  const double restingMb = loaded.ResidentMb();

  toLoaded.Open(kIdleConnections);
  Warm(toLoaded, loadedReply, 1);
  std::vector<double> l;
  u.clear();
  alternate(toLoaded, loadedReply, l, toUnloaded, unloadedReply, u);
  const Figure withIdle = Summarise(l), without = Summarise(u);
  const double loadedMb = loaded.ResidentMb();

  Report("2. the program as a child process (standard output to a file), %zu idle connections open\n",
         kIdleConnections);
  Times("1 connection beside 1000 idle ones", withIdle);
  Times("1 connection, a second copy without idle ones", without);
  Ratio("loaded / unloaded, median", withIdle.median / without.median, kLoadedBound);
  Ratio("loaded / unloaded, p99", withIdle.p99 / without.p99, kLoadedBound);
  Report("  %-56s %6.1f MB\n", "resident memory (VmRSS) with 1 connection", restingMb);
  Amount("resident memory (VmRSS) with 1001 connections", loadedMb, kResidentBoundMb, "MB");

  Report("3. access log: standard output to a file against standard output closed "
         "(a windowed start: access log cleared)\n");
  const bool accessLogged = unloaded.StdoutText().find("[connect]") != std::string::npos;
  Report("  access-log lines in the first's file: %s\n", accessLogged ? "yes" : "NONE");
  Times("logs as configured", logged);
  Times("access log cleared", cleared);
  Report("  %-56s %6.3f (not bounded)\n", "as configured / cleared, median", logged.median / cleared.median);
  g_allOk = g_allOk && accessLogged;
}

// Microseconds for one whole test page over HTTP (connect, request, the body to its end).
double FetchPageUs(uint16_t port) {
  const auto start = Clock::now();
  asio::io_context io;
  Tcp::socket socket(io);
  socket.connect(Tcp::endpoint(asio::ip::address_v4::loopback(), port));
  asio::write(socket, asio::buffer(std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")));
  std::string in;
  asio::error_code ec;
  asio::read(socket, asio::dynamic_buffer(in), ec);  // the service closes after the page
  if (in.rfind("HTTP/1.1 200", 0) != 0) throw std::runtime_error("no page: " + in.substr(0, 40));
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Microseconds for a connection and its opening handshake.
double HandshakeUs(uint16_t port) {
  const auto start = Clock::now();
  asio::io_context io;
  Tcp::socket socket(io);
  socket.connect(Tcp::endpoint(asio::ip::address_v4::loopback(), port));
  std::string after;
  const std::string head = testing::OpeningHandshake(socket, after);
  if (head.rfind("HTTP/1.1 101", 0) != 0) throw std::runtime_error("handshake refused");
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void PagesDuringAWait() {
  Report("4. the test page and a handshake while another client's waiting read runs, against the service idle\n");
  // No identity card on the reader: a waiting read goes on until its client leaves.
  InProcessService service(std::vector<std::pair<std::string, std::string>>{{"card", "0"}});
  std::vector<double> idlePage, idleShake, busyPage, busyShake;
  auto measure = [&](std::vector<double>& page, std::vector<double>& shake) {
    for (int i = 0; i < 100; ++i) {
      page.push_back(FetchPageUs(service.port()));
      shake.push_back(HandshakeUs(service.port()));
    }
  };
  RoundTripClient waiting(service.port());
  waiting.Open(1);
  for (int round = 0; round < 3; ++round) {  // alternating, as above
    measure(idlePage, idleShake);
    waiting.SendOnly("2?timeout=600000");
    measure(busyPage, busyShake);
    waiting.CloseAll();  // its wait ends with it
    waiting.Open(1);
  }
  const Figure ip = Summarise(idlePage), is = Summarise(idleShake), bp = Summarise(busyPage),
               bs = Summarise(busyShake);
  Times("test page, service idle", ip, "fetches");
  Times("test page, during a waiting read", bp, "fetches");
  Ratio("during a wait / idle, test page, median", bp.median / ip.median, kBusyBound);
  Times("handshake, service idle", is, "handshakes");
  Times("handshake, during a waiting read", bs, "handshakes");
  Ratio("during a wait / idle, handshake, median", bs.median / is.median, kBusyBound);
}

// Round trips of `command` on each program, alternately, in blocks of `block`.
std::pair<Figure, Figure> Alternately(uint16_t portA, uint16_t portB, const char* command, int blocks, size_t block) {
  RoundTripClient a(portA), b(portB);
  std::string aReply, bReply;
  a.Open(1);
  b.Open(1);
  a.RoundTrips(1, command, 5, aReply);
  b.RoundTrips(1, command, 5, bReply);
  if (aReply != bReply || aReply.size() < 6) throw std::runtime_error("the two programs answer differently");
  std::vector<double> aTimes, bTimes;
  for (int i = 0; i < blocks; ++i) {
    for (double t : a.RoundTrips(1, command, block, aReply)) aTimes.push_back(t);
    for (double t : b.RoundTrips(1, command, block, bReply)) bTimes.push_back(t);
  }
  return {Summarise(aTimes), Summarise(bTimes)};
}

void ReaderHostAgainstInProcess(const std::u16string& program) {
  const std::string inProcess = "[Reader]\nIsolated=0\n";
  Report("5. the program with the reader SDK in the reader host against the SDK in the program ([Reader] Isolated=0)\n");
  {
    ChildProgram hosted(program, true), local(program, true, {}, inProcess);
    const auto [h, l] = Alternately(hosted.port(), local.port(), kCommand, 20, 200);
    Times("through the host", h);
    Times("in the program", l);
    Ratio("host / in the program, median", h.median / l.median, 1.3);
    Amount("added at the median", h.median - l.median, 1000, "us");
  }
  // Model 0 (ORV5U) reads one 1 MB card image and a 40 KB photo.
  const std::vector<std::pair<std::string, std::string>> card = {
      {"ports", "1"}, {"delay_ms", "0"}, {"calllog", "0"}, {"reload", "0"},
      {"Getbase64BMPDataU.size", "40960"}, {"Getbase64FrontBMPDataU.size", "1048576"}, {"Getbase64backBMPDataU.size", "0"}};
  const std::string model0 = "[Device]\nID=0\n";
  ChildProgram hosted(program, true, {}, model0), local(program, true, {}, model0 + inProcess);
  for (ChildProgram* p : {&hosted, &local}) p->app().SetScenario(DriverKind::k5U, card);
  const auto [h, l] = Alternately(hosted.port(), local.port(), "3", 10, 5);
  Times("1 MB record through the host", h);
  Times("1 MB record in the program", l);
  Ratio("host / in the program, 1 MB record, median", h.median / l.median, 1.2);
}

int Main() {
  RaiseOpenFileLimit();
  signal(SIGPIPE, SIG_IGN);
  // The report keeps the original standard output; descriptor 1 (and 2, for the error logs) leads
  // to an unlinked scratch file from here on: a real file, so that the service formats its access
  // log as a console start would (it formats none for /dev/null), like the echo endpoints.
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
  try {
    Report("1. service in-process against a bare echo and a hand-over echo, same configuration "
           "(access log as configured, standard output to a file for all)\n");
    CompareWithEchoes();
    if (!testing::FileExists(program)) {
      Report("2./3. no program at %s: build the target app first\n", Utf16ToUtf8(program).c_str());
      g_allOk = false;
    } else {
      ProgramBenchmarks(program);
    }
    PagesDuringAWait();
    if (testing::FileExists(program)) ReaderHostAgainstInProcess(program);
  } catch (const std::exception& e) {
    Report("benchmark failed: %s\n", e.what());
    g_allOk = false;
  }
  Report("%s in %.0f s\n", g_allOk ? "all within bounds" : "NOT all within bounds",
         std::chrono::duration<double>(Clock::now() - start).count());
  return g_allOk ? 0 : 1;
}

}  // namespace
}  // namespace kavenor::bench

int main() { return kavenor::bench::Main(); }
