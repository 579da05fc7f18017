#include "tests/window/window_driver.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/text.h"
#include "shell/resource.h"
#include "tests/window/png_file.h"

namespace kavenor::testing {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

DWORD ProcessOf(HWND window) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  return id;
}

struct DialogSearch {
  const std::function<bool(HWND)>* keep;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  if (ClassName(window) == L"#32770" && (*search->keep)(window)) search->found.push_back(window);
  return TRUE;
}

// Every top-level dialog window for which `keep` holds.
std::vector<HWND> TopLevelDialogs(const std::function<bool(HWND)>& keep) {
  DialogSearch search{&keep, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsSettingsWindow(HWND window) { return GetDlgItem(window, IDC_STATUS_LOG) && GetDlgItem(window, IDC_SET_PORT); }

}  // namespace

bool WaitUntil(const std::function<bool()>& done, const std::string& what, int seconds) {
  const uint64_t start = TickCountMs();
  while (!done()) {
    if (TickCountMs() - start > static_cast<uint64_t>(seconds) * 1000) {
      ADD_FAILURE() << "gave up waiting for " << what;
      return false;
    }
    Sleep(50);
  }
  return true;
}

KavenorProcess::KavenorProcess(KavenorProcess&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0)) {}

KavenorProcess& KavenorProcess::operator=(KavenorProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    process_ = std::exchange(other.process_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

KavenorProcess KavenorProcess::Start(const std::u16string& exePath) {
  KavenorProcess p;
  std::u16string dir = exePath.substr(0, exePath.find_last_of(u'\\'));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // As from the desktop: no standard streams.
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(W(exePath), nullptr, nullptr, nullptr, FALSE, 0, nullptr, W(dir), &startup, &info)) {
    ADD_FAILURE() << "cannot start " << Utf16ToUtf8(exePath) << ": error " << GetLastError();
    return p;
  }
  CloseHandle(info.hThread);
  p.process_ = info.hProcess;
  p.id_ = info.dwProcessId;
  return p;
}

KavenorProcess KavenorProcess::FindAnotherThan(DWORD otherId) {
  KavenorProcess p;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelDialogs(IsSettingsWindow)) {
          DWORD id = ProcessOf(window);
          if (id == otherId) continue;
          p.process_ = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
          p.id_ = id;
          return p.process_ != nullptr;
        }
        return false;
      },
      "a relaunched instance's window");
  return p;
}

bool KavenorProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

DWORD KavenorProcess::WaitForExit() {
  DWORD code = STILL_ACTIVE;
  if (!process_) return code;
  WaitUntil([&] { return !Running(); }, "the program to end");
  GetExitCodeProcess(process_, &code);
  return code;
}

void KavenorProcess::Kill() {
  if (!process_) return;
  if (Running()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 30000);
  }
  CloseHandle(process_);
  process_ = nullptr;
}

HWND KavenorProcess::Dialog() const {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelDialogs(IsSettingsWindow))
          if (ProcessOf(window) == id_) found = window;
        return found != nullptr;
      },
      "the settings window");
  return found;
}

HWND KavenorProcess::MessageBox() const {
  for (HWND window : TopLevelDialogs([](HWND w) { return !IsSettingsWindow(w); }))
    if (ProcessOf(window) == id_ && IsWindowVisible(window)) return window;
  return nullptr;
}

HWND KavenorProcess::WaitForMessageBox() const {
  HWND box = nullptr;
  WaitUntil([&] { return (box = MessageBox()) != nullptr; }, "a message box");
  return box;
}

std::u16string WindowCaption(HWND window) {
  wchar_t text[4096] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 30000, nullptr);
  return reinterpret_cast<const char16_t*>(text);
}

std::u16string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  DWORD_PTR length = 0;
  SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 30000, &length);
  std::vector<wchar_t> text(length + 1, L'\0');
  SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      30000, nullptr);
  return reinterpret_cast<const char16_t*>(text.data());
}

void SetControlText(HWND dialog, int id, const std::u16string& text) {
  SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(text)), SMTO_ABORTIFHUNG,
                      30000, nullptr);
}

void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::u16string MessageBoxText(HWND box) { return ControlText(box, 0xFFFF); }

void Answer(HWND box, int buttonId) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

bool Screenshot(HWND window, const std::u16string& path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  const auto* bgra = static_cast<const uint8_t*>(bits);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    rgb[i * 3] = bgra[i * 4 + 2];
    rgb[i * 3 + 1] = bgra[i * 4 + 1];
    rgb[i * 3 + 2] = bgra[i * 4];
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return WritePng(path, static_cast<uint32_t>(width), static_cast<uint32_t>(height), rgb);
}

int TrayIconCount() {
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  int count = 0;
  for (HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr); tray && icon;
       icon = FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr))
    ++count;
  return count;
}

}  // namespace kavenor::testing
