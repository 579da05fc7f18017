// The service: one WebSocket/HTTP endpoint on the configured port, run on the service thread, and
// the reader thread that runs its commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/settings_keys.h"
#include "service/reader_backend.h"
#include "service/reader_thread.h"
#include "service/site_decisions.h"

namespace kavenor {

// What the program lends the service; each may be empty.
struct ServiceHooks {
  // The service listens on `port` (called on the service thread).
  std::function<void(uint16_t port)> listening;
  // The port could not be listened on (taken by another program, say); called on the service
  // thread with the port tried, before the service ends.
  std::function<void(uint16_t port)> listenFailed;
  // Blocks until the instance that started this one has ended (true), for a while at most (false);
  // false at once when there is none. A listen that fails while such an instance may still hold the
  // port is tried once more after it.
  std::function<bool()> awaitPredecessor;
  // A page of `origin` (as OriginText writes it), a site the settings neither allow nor refuse,
  // wants the reader: the operator is to be asked, and answers through AnswerOperator. Called on
  // the service thread, once per site until it is answered or withdrawn; must not wait. Empty:
  // such pages are refused at the handshake.
  std::function<void(const std::string& origin)> askOperator;
  // The question about `origin` needs no answer any more: its time is up, or the service ends.
  std::function<void(const std::string& origin)> questionWithdrawn;
};

class CWebSocketServer {
 public:
  // `settingsPath`: the Config.ini to read; `pageDir`: the folder of the test pages, ending in a
  // separator. The program passes the files beside the executable, tests a scratch app folder.
  // `reader` must outlive this object; only its reader thread uses it while the service runs.
  CWebSocketServer(ReaderBackend& reader, std::u16string settingsPath, std::u16string pageDir,
                   ServiceHooks hooks = {});
  ~CWebSocketServer();  // Stop()
  CWebSocketServer(const CWebSocketServer&) = delete;
  CWebSocketServer& operator=(const CWebSocketServer&) = delete;

  // Reads [IP] port (default 7415) and [Device] ID (default 0: the reader thread's first model),
  // starts the reader thread, builds the endpoint, listens on the low 16 bits of the port and
  // serves until the network loop has no more work: after "stop-listening" once the last
  // connection has gone, or after RequestStop. Then stops the reader thread: the command that runs
  // finishes and the reader is closed. A failed listen ends it at once, through
  // hooks.listenFailed. Errors are written to standard output, never raised. Returns 0. Runs on
  // the calling thread (the service thread).
  int Run();

  // Starts the service thread: `beforeRun` (the window's minimise request; may be empty), then Run.
  void Start(std::function<void()> beforeRun = {});

  // Any thread, without waiting: the listener stops, open connections are closed (1001), and Run
  // ends in order as above. A Run that has not begun yet returns at once.
  void RequestStop();
  // Whether no service thread runs: none was started, or it has finished.
  bool Ended() const { return ended_; }
  // RequestStop, then waits for the service thread. The thread calling it must not be one that the
  // service thread waits for (the window's, while the minimise request is under way).
  void Stop();

  // Any thread: the reader model for the commands that start from now on.
  void RequestModel(int32_t model) { reader_.RequestModel(model); }

  // Before Run: the endpoint's access log writes its devel and frame-header lines too (off unless
  // asked for: a dozen lines a frame).
  void SetVerboseLog(bool verbose) { verboseLog_ = verbose; }

  // Any thread: the operator's answer about the pages of `origin`. It is in force at once and
  // kept in Config.ini (false when that could not be written), and the connections that wait for
  // it are served or closed (1008, "refused by the operator").
  bool AnswerOperator(const std::string& origin, bool allowed);
  // Before Run: how long the operator has to answer (kOperatorAnswerMs); a seam for the tests.
  void SetOperatorAnswerTime(long ms) { operatorAnswerMs_ = ms; }
  static constexpr long kOperatorAnswerMs = 60000;

  // Any thread: the allowed and refused sites, and the removal of one (asked about again).
  std::vector<SiteDecisions::Site> Sites() const { return sites_.Sites(); }
  bool ForgetSite(const std::string& origin) { return sites_.Forget(origin); }

 private:
  class Session;

  ReaderBackend& backend_;
  std::u16string settingsPath_;
  std::u16string pageDir_;  // with a trailing separator, or empty
  ServiceHooks hooks_;
  ReaderThread reader_;
  bool verboseLog_ = false;
  long operatorAnswerMs_ = kOperatorAnswerMs;
  SiteDecisions sites_;
  std::thread thread_;
  std::atomic<bool> ended_{true};  // no service thread runs

  std::mutex sessionMutex_;
  Session* session_ = nullptr;  // the running network loop, if any
  bool stopRequested_ = false;
};

// The service thread's body: `beforeRun` (may be empty) and then server.Run(). Returns 0; nothing
// escapes it.
int ServiceThreadProc(CWebSocketServer& server, const std::function<void()>& beforeRun);

}  // namespace kavenor
