// The service: one WebSocket/HTTP endpoint on the configured port, run on the service thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/status_message.h"
#include "reader/reader_drivers.h"

namespace kavenor {

class CWebSocketServer {
 public:
  // Config.ini and the test pages beside the executable.
  explicit CWebSocketServer(ReaderDrivers& drivers);
  // Config.ini and the test pages in `appDir`, which ends in a separator (a scratch app folder).
  CWebSocketServer(ReaderDrivers& drivers, const std::u16string& appDir);
  CWebSocketServer(const CWebSocketServer&) = delete;
  CWebSocketServer& operator=(const CWebSocketServer&) = delete;

  // Reads [IP] port (default 7415) and [Device] ID (default 0, into g_deviceModel), gives the
  // drivers `window` for their status posts, then builds the endpoint, listens on the low 16 bits
  // of the port (dual-stack ::, else IPv4) and serves until the network loop has no more work:
  // after "stop-listening" once the last connection has gone. A failed listen ends it at once.
  // Errors are written to standard output, never raised. Returns 0. Call on the service thread;
  // `drivers` must outlive the call and is used by no other thread meanwhile.
  int Run(WindowHandle window);

 private:
  ReaderDrivers& drivers_;
  std::u16string settingsPath_;
  std::u16string pageDir_;  // with a trailing separator, or empty
  int32_t port_ = 7415;
};

// The service thread's body: `hideWindow` (the window's synchronous minimise request; may be
// empty) and then server.Run(window). Returns 0; nothing escapes it.
int ServiceThreadProc(CWebSocketServer& server, WindowHandle window, const std::function<void()>& hideWindow);

// Starts ServiceThreadProc on a thread of its own that nobody waits for or stops; `server` must
// live until the process ends.
void StartServiceThread(CWebSocketServer& server, WindowHandle window, std::function<void()> hideWindow = {});

}  // namespace kavenor
