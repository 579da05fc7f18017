#include "bench/bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "common/exe_dir.h"
#include "common/text.h"
#include "reader_host/host_process.h"
#include "service/web_socket_test_client.h"

extern char** environ;

namespace kavenor::bench {

namespace asio = boost::asio;
using Tcp = asio::ip::tcp;

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

bool Accepts(uint16_t port) {
  asio::io_context io;
  Tcp::socket socket(io);
  boost::system::error_code ec;
  socket.connect(Tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
  return !ec;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& dir, bool stdoutToFile) {
  const std::string out = dir + "/stdout.log", err = dir + "/stderr.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdoutToFile)
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  else
    posix_spawn_file_actions_addclose(&actions, 1);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void EndChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void SetQuickReader(testing::SimulatedApp& app, const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::pair<std::string, std::string>> lines = {
      {"ports", "1"}, {"delay_ms", "0"}, {"calllog", "0"}, {"reload", "0"}};
  lines.insert(lines.end(), extra.begin(), extra.end());
  app.SetScenario(DriverKind::k5A, lines);
}

void WriteBenchConfig(const std::u16string& path, uint16_t port, const std::string& extra) {
  // The first of two equal keys counts: `extra` comes first.
  testing::WriteFileBytes(path, extra + "[IP]\nport=" + std::to_string(port) + "\nRestart=1\n[Device]\nID=1\n");
}

ChildProgram::ChildProgram(const std::u16string& program, bool stdoutToFile,
                           const std::vector<std::pair<std::string, std::string>>& scenario, const std::string& configExtra)
    : port_(testing::FreePort()) {
  const std::u16string copy = app_.dir().Join(u"kavenor");
  testing::CopyFileTo(program, copy);
  const std::u16string folder = program.substr(0, program.find_last_of(kPathSeparator) + 1);
  testing::CopyFileTo(folder + kHostExecutableName, app_.dir().Join(kHostExecutableName));
  WriteBenchConfig(app_.configPath(), port_, configExtra);
  SetQuickReader(app_, scenario);
  pid_ = Spawn({Utf16ToUtf8(copy)}, Utf16ToUtf8(app_.dir().path()), stdoutToFile);
  if (pid_ < 0) throw std::runtime_error("cannot start " + Utf16ToUtf8(copy));
}

ChildProgram::~ChildProgram() { EndChild(pid_); }

double ChildProgram::ResidentMb() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stod(line.substr(6)) / 1024.0;
  throw std::runtime_error("no VmRSS for the program");
}

std::string ChildProgram::StdoutText() const { return testing::ReadFileBytes(app_.dir().Join(u"stdout.log")); }

// ---- the client

void RoundTripClient::Open(size_t n) {
  for (size_t i = 0; i < n; ++i) {
    auto c = std::make_unique<Connection>(io_);
    const auto deadline = Clock::now() + std::chrono::seconds(connections_.empty() ? 15 : 0);
    for (;;) {
      boost::system::error_code ec;
      c->socket.connect(Tcp::endpoint(asio::ip::make_address("127.0.0.1"), port_), ec);
      if (!ec) break;
      if (Clock::now() >= deadline) throw std::runtime_error("cannot connect: " + ec.message());
      c->socket.close();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    c->socket.set_option(Tcp::no_delay(true));
    std::string after;
    const std::string head = testing::OpeningHandshake(c->socket, after);
    if (head.compare(0, 12, "HTTP/1.1 101") != 0)
      throw std::runtime_error("handshake refused: " + head.substr(0, head.find('\r')));
    if (!after.empty()) throw std::runtime_error("bytes after the handshake response");
    connections_.push_back(std::move(c));
  }
}

std::vector<double> RoundTripClient::RoundTrips(size_t active, const std::string& command, size_t rounds,
                                                std::string& expected) {
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

void RoundTripClient::SendOnly(const std::string& payload) {
  asio::write(connections_.at(0)->socket, asio::buffer(testing::MaskedFrame(payload)));
}

void RoundTripClient::CloseAll() {
  for (auto& c : connections_) {
    boost::system::error_code ec;
    c->socket.close(ec);
  }
  connections_.clear();
}

void RoundTripClient::Fail(const std::string& what) {
  if (failure_.empty()) failure_ = what;
  io_.stop();
}

void RoundTripClient::Exchange(Connection& c) {
  c.sent = Clock::now();
  asio::async_write(c.socket, asio::buffer(frame_), [this](const boost::system::error_code& ec, size_t) {
    if (ec) Fail("send: " + ec.message());
  });
  Read(c);
}

void RoundTripClient::Read(Connection& c) {
  c.socket.async_read_some(asio::buffer(c.in.data() + c.used, c.in.size() - c.used),
                           [this, &c](const boost::system::error_code& ec, size_t n) {
                             if (ec) return Fail("receive: " + ec.message());
                             c.used += n;
                             OnBytes(c);
                           });
}

// One whole unmasked text frame from the server, or a wait for more bytes.
void RoundTripClient::OnBytes(Connection& c) {
  const uint8_t* b = c.in.data();
  const std::optional<testing::FrameHeader> h =
      testing::ParseFrameHeader(std::string_view(reinterpret_cast<const char*>(b), c.used));
  if (!h) return Read(c);
  if (!h->fin || h->opcode != 1) return Fail("not a final text frame: first byte " + std::to_string(b[0]));
  if (h->masked) return Fail("a masked frame from the server");
  // A card record: the buffer grows to the frame, up to the largest message the service sends.
  if (h->payload > (64u << 20)) return Fail("a reply too long for the bench");
  if (h->payload > c.in.size() - h->size) {
    c.in.resize(h->size + static_cast<size_t>(h->payload));
    b = c.in.data();
  }
  const size_t header = h->size, length = static_cast<size_t>(h->payload);
  if (c.used < header + length) return Read(c);
  if (c.used != header + length) return Fail("more than one frame for one command");

  times_->push_back(std::chrono::duration<double, std::micro>(Clock::now() - c.sent).count());
  std::string reply(reinterpret_cast<const char*>(b + header), length);
  c.used = 0;
  if (expected_->empty()) *expected_ = reply;
  if (reply != *expected_) return Fail("unexpected reply: " + reply.substr(0, 200));
  if (--c.left > 0) Exchange(c);
}

// ---- figures

Figure Summarise(std::vector<double> us) {
  Figure f;
  f.count = us.size();
  if (us.empty()) return f;
  std::sort(us.begin(), us.end());
  f.median = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return f;
}

std::FILE* g_report = stdout;
bool g_allOk = true;

void Report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(g_report, format, args);
  va_end(args);
  std::fflush(g_report);
}

void Ratio(const char* name, double value, double bound) {
  const bool ok = value <= bound;
  g_allOk = g_allOk && ok;
  Report("  %-56s %6.3f (bound %.2f) %s\n", name, value, bound, ok ? "OK" : "OVER");
}

void Amount(const char* name, double value, double bound, const char* unit) {
  const bool ok = value <= bound;
  g_allOk = g_allOk && ok;
  Report("  %-56s %6.1f %s (bound %.0f %s) %s\n", name, value, unit, bound, unit, ok ? "OK" : "OVER");
}

void Times(const char* name, const Figure& f, const char* what) {
  Report("  %-56s median %8.1f us   p99 %8.1f us   (%zu %s)\n", name, f.median, f.p99, f.count, what);
}

}  // namespace kavenor::bench
