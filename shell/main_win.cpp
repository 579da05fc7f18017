// The program on Windows, a console stand-in until the desktop shell exists: the drivers, the
// service thread, and the status log on standard output. A message-only window receives the
// status posts. Ctrl+C or closing the console ends it.
#include <windows.h>

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

// Bound while the process's objects are constructed, before wmain runs.
ReaderDrivers g_readerDrivers(GetModuleDirWithSeparator(), ShowStartupMessage);

constexpr wchar_t kStatusWindowClass[] = L"KavenorStatusLog";

void PrintStatusLine(uint32_t code) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  // One insertion per line, so that the service thread's lines do not cut into it.
  std::cout << Utf16ToUtf8(StatusLogLine(code, local)) + "\n" << std::flush;
}

LRESULT CALLBACK StatusWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == StatusMessage) {
    PrintStatusLine(static_cast<uint32_t>(wParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateStatusWindow(HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = StatusWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kStatusWindowClass;
  if (!RegisterClassW(&windowClass)) return nullptr;
  return CreateWindowExW(0, kStatusWindowClass, L"Kavenor", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                         nullptr);
}

int Main() {
  // The status lines are UTF-8; a console shows them as such.
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) SetConsoleOutputCP(CP_UTF8);

  HWND window = CreateStatusWindow(GetModuleHandleW(nullptr));
  if (!window) std::cerr << "no status window: " << GetLastError() << std::endl;
  CWebSocketServer server(g_readerDrivers);
  StartServiceThread(server, window);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

}  // namespace
}  // namespace kavenor

int wmain() { return kavenor::Main(); }
