// A small Win32 test driver for the real Kavenor.exe: starts it, finds its settings window and its
// message boxes, clicks, answers, reads and sets control texts, posts the tray callback and status
// messages, and takes screenshots. Runs in a process of its own beside the program (same Wine prefix
// and display).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kavenor::testing {

// Waits until `done` holds, checking every 50 ms; fails the test (and returns false) after
// `seconds`, a guard against a hang only.
bool WaitUntil(const std::function<bool()>& done, const std::string& what, int seconds = 120);

// One running Kavenor process: started by the test or found as a relaunched instance.
class KavenorProcess {
 public:
  KavenorProcess() = default;
  ~KavenorProcess() { Kill(); }
  KavenorProcess(KavenorProcess&& other) noexcept;
  KavenorProcess& operator=(KavenorProcess&& other) noexcept;

  // Starts `exePath` with no arguments, in its folder.
  static KavenorProcess Start(const std::u16string& exePath);
  // The process of a settings window that is not `other`'s; waits for one to appear.
  static KavenorProcess FindAnotherThan(DWORD otherId);

  bool valid() const { return process_ != nullptr; }
  DWORD id() const { return id_; }
  bool Running() const;
  // Waits for the process to end; its exit code.
  DWORD WaitForExit();
  void Kill();

  // The settings window (waits for it to exist).
  HWND Dialog() const;
  // A message box or the About box of this process (a shown dialog other than the settings
  // window), or null.
  HWND MessageBox() const;
  HWND WaitForMessageBox() const;

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

std::u16string ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::u16string& text);
// The click arrives through the program's message queue, so a handler that opens a message box
// does not hold up the test.
void Click(HWND dialog, int id);
// The message box's text, caption, and its answer by button id (IDOK, IDYES, IDNO).
std::u16string MessageBoxText(HWND box);
std::u16string WindowCaption(HWND window);
void Answer(HWND box, int buttonId);

// The notification icons that Wine's tray shows (without a desktop: its own "Wine System Tray"
// window, one child window per icon).
int TrayIconCount();

// Writes what the screen shows of `window` as a PNG file.
bool Screenshot(HWND window, const std::u16string& path);

}  // namespace kavenor::testing
