// The service: one WebSocket/HTTP endpoint on the configured port, run on the service thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/settings_keys.h"
#include "common/status_message.h"
#include "reader/reader_drivers.h"

namespace kavenor {

// What the program lends the service; each may be empty.
struct ServiceHooks {
  // The service listens on `port` (called on the service thread).
  std::function<void(uint16_t port)> listening;
  // The port could not be listened on (taken by another program, say); called on the service
  // thread with the port tried, before the service ends.
  std::function<void(uint16_t port)> listenFailed;
  // Blocks until the instance that started this one has ended; false at once when there is none.
  // A listen that fails while such an instance may still hold the port is tried once more after it.
  std::function<bool()> awaitPredecessor;
};

// Owned by the program's window object; it must outlive the service thread, which is never
// stopped, so the process ends without destroying it.
class CWebSocketServer {
 public:
  // `settingsPath`: the Config.ini to read; `pageDir`: the folder of the test pages, ending in a
  // separator. The program passes the files beside the executable, tests a scratch app folder.
  CWebSocketServer(ReaderDrivers& drivers, std::u16string settingsPath, std::u16string pageDir,
                   ServiceHooks hooks = {});
  CWebSocketServer(const CWebSocketServer&) = delete;
  CWebSocketServer& operator=(const CWebSocketServer&) = delete;

  // Reads [IP] port (default 7415) and [Device] ID (default 0, into g_deviceModel), gives the
  // drivers `window` for their status posts, then builds the endpoint, listens on the low 16 bits
  // of the port (dual-stack ::, else IPv4) and serves until the network loop has no more work:
  // after "stop-listening" once the last connection has gone. A failed listen ends it at once,
  // through hooks.listenFailed.
  // Errors are written to standard output, never raised. Returns 0. Call on the service thread;
  // `drivers` must outlive the call and is used by no other thread meanwhile.
  int Run(WindowHandle window);

 private:
  ReaderDrivers& drivers_;
  std::u16string settingsPath_;
  std::u16string pageDir_;  // with a trailing separator, or empty
  ServiceHooks hooks_;
  int32_t port_ = kPortSetting.fallback;
};

// The service thread's body: `hideWindow` (the window's synchronous minimise request; may be
// empty) and then server.Run(window). Returns 0; nothing escapes it.
int ServiceThreadProc(CWebSocketServer& server, WindowHandle window, const std::function<void()>& hideWindow);

// Starts ServiceThreadProc on a thread of its own that nobody waits for or stops; `server` must
// live until the process ends.
void StartServiceThread(CWebSocketServer& server, WindowHandle window, std::function<void()> hideWindow = {});

}  // namespace kavenor
