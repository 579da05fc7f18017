// The program on Linux: the stand-in for the desktop shell. It starts in the order of the Windows
// program (drivers, settings, single-instance check, service thread), writes start-up messages to
// standard error and the status log to standard output, and ends in order on SIGINT or SIGTERM.
// SIGHUP relaunches it, as a settings change in the window does, so that Config.ini edits take effect.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/clock.h"
#include "common/exe_dir.h"
#include "common/line_output.h"
#include "common/settings.h"
#include "common/startup_message.h"
#include "common/status_message.h"
#include "common/text.h"
#include "reader_host/isolated_reader.h"
#include "service/web_socket_server.h"
#include "shell/relaunch.h"
#include "shell/single_instance.h"
#include "shell/startup.h"
#include "shell/status_log.h"

namespace kavenor {
namespace {

// What the signal thread asks of the main thread, through the same queue as the status posts.
constexpr uint32_t kCloseRequest = 0x0010;     // WM_CLOSE
constexpr uint32_t kRelaunchRequest = 0x8001;  // WM_APP + 1

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

// Before anything has started that would have to end in order.
[[noreturn]] void EndProcess(int code) { std::_Exit(code); }

// Each connection is a descriptor; take all the system allows.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// The stop and relaunch signals are taken by one thread and queued as requests; every other thread
// has them blocked (the mask is set before any thread starts). No thread wakes while none comes.
void StartSignalThread() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A reader of standard output that goes away must not end the service.
  signal(SIGPIPE, SIG_IGN);
  std::thread([signals] {
    for (;;) {
      int number = 0;
      if (sigwait(&signals, &number) != 0) continue;
      PostToWindow(nullptr, number == SIGHUP ? kRelaunchRequest : kCloseRequest, 0);
    }
  }).detach();
}

void PrintLogLine(const std::u16string& text) {
  WriteWholeLine(StdStream::kOutput, Utf16ToUtf8(StatusLogLine(text, LocalTimeNow())));
}

class StandInShell {
 public:
  // `reader` must outlive the shell.
  explicit StandInShell(ReaderBackend& reader) : reader_(reader), settingsPath_(SettingsFilePath()), instance_(u"Kavenor") {}

  // The window's initialisation, less the window. `verbose`: the endpoint's devel and frame lines too.
  void Initialise(bool verbose) {
    if (TakeRestartFlag(settingsPath_) == StartKind::kRelaunch) {
      instance_.TakeOver();
    } else if (!instance_.Claim()) {
      ShowStartupMessage(kOnlyOneInstance);
      EndProcess(0);
    }
    ServiceHooks hooks;
    hooks.listening = [](uint16_t port) {
      WriteWholeLine(StdStream::kOutput, "Kavenor serves on port " + std::to_string(port) + ": http://127.0.0.1:" +
                                             std::to_string(port) + "/ and ws://127.0.0.1:" + std::to_string(port) + "/");
    };
    hooks.listenFailed = [](uint16_t port) { PostToWindow(nullptr, ServiceFailedMessage, port); };
    hooks.awaitPredecessor = [this] { return instance_.AwaitPredecessor(kPredecessorWaitMs); };
    reader_.SetStatusSink([](uint32_t code) { PostToWindow(nullptr, StatusMessage, code); });
    server_ = std::make_unique<CWebSocketServer>(reader_, settingsPath_, GetModuleDirWithSeparator(),
                                                 std::move(hooks));
    server_->SetVerboseLog(verbose);
    server_->Start();
  }

  // The window's message handling: runs until a close request or a relaunch, then ends the service
  // in order (listener, connections, the running command, the reader port).
  void Run() {
    for (bool running = true; running;) {
      PostedMessage m = WaitPostedMessage();
      switch (m.message) {
        case StatusMessage: PrintLogLine(StatusLogText(static_cast<uint32_t>(m.value))); break;
        case ServiceFailedMessage: PrintLogLine(ServiceFailedLogText(static_cast<uint16_t>(m.value))); break;
        case kRelaunchRequest: running = !Relaunch(); break;
        case kCloseRequest: running = false; break;
        default: break;
      }
    }
    server_->Stop();
  }

 private:
  // True when the new instance has started and this one is to end.
  bool Relaunch() {
    WriteSetting(kRestartSetting, u"1", settingsPath_);
    if (RelaunchProgram(settingsPath_, [] { return StartProgram(GetModulePath()); }) == RelaunchOutcome::kStarted)
      return true;
    ShowStartupMessage(kRelaunchFailed);
    return false;
  }

  ReaderBackend& reader_;
  std::u16string settingsPath_;
  SingleInstance instance_;
  std::unique_ptr<CWebSocketServer> server_;
};

int Main(int argc, char** argv) {
  UseWholeLinesOnStandardStreams();
  RaiseOpenFileLimit();
  StartSignalThread();
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--verbose") {
      verbose = true;
    } else {
      WriteWholeLine(StdStream::kError, std::string("kavenor: unknown option ") + argv[i] + " (--verbose)");
      return 2;
    }
  }
  // First, as the process-wide objects are on Windows: the reader host loads the libraries, and a
  // library that does not load is reported before anything else.
  const std::unique_ptr<ReaderBackend> reader = StartReader(GetModuleDirWithSeparator(), ShowStartupMessage);
  StandInShell shell(*reader);
  shell.Initialise(verbose);
  shell.Run();
  return 0;
}

}  // namespace
}  // namespace kavenor

int main(int argc, char** argv) { return kavenor::Main(argc, argv); }
