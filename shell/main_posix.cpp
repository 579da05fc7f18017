// The program on Linux: the drivers, the service thread, and the status log on standard output.
// It runs until SIGINT or SIGTERM, also after the service has ended.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "common/exe_dir.h"
#include "common/startup_message.h"
#include "common/status_message.h"
#include "common/text.h"
#include "reader/reader_drivers.h"
#include "service/web_socket_server.h"
#include "shell/status_log.h"

namespace kavenor {
namespace {

// A closed standard descriptor would be taken by the next file or socket opened, and log lines
// would land there: /dev/null takes its place before anything else is opened.
bool OpenClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  // The SDK's 8-bit texts are in the locale's charset.
  std::setlocale(LC_ALL, "");
  return true;
}
const bool g_standardStreamsOpen = OpenClosedStandardStreams();

// Bound while the process's objects are constructed, before main runs.
ReaderDrivers g_readerDrivers(GetModuleDirWithSeparator(), ShowStartupMessage);

volatile sig_atomic_t g_stopRequested = 0;

void RequestStop(int) { g_stopRequested = 1; }

// Each connection is a descriptor; take all the system allows.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

void InstallSignalHandlers() {
  struct sigaction stop {};
  stop.sa_handler = RequestStop;
  sigemptyset(&stop.sa_mask);
  // Set explicitly: a program started in the background may inherit SIGINT ignored.
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  // A reader of standard output that goes away must not end the service.
  signal(SIGPIPE, SIG_IGN);
}

void PrintStatusLine(uint32_t code) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // One insertion per line, so that the service thread's lines do not cut into it.
  std::cout << Utf16ToUtf8(StatusLogLine(code, local)) + "\n" << std::flush;
}

int Main() {
  RaiseOpenFileLimit();
  InstallSignalHandlers();
  CWebSocketServer server(g_readerDrivers);
  StartServiceThread(server, nullptr);
  while (!g_stopRequested) {
    uint32_t code = 0;
    if (WaitPostedStatus(code, 200)) PrintStatusLine(code);
  }
  // The service thread may be inside a handler: leave without destroying what it uses.
  std::cout.flush();
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace
}  // namespace kavenor

int main() { return kavenor::Main(); }
