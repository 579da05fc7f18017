// The least of a dialog framework that this program needs: a dialog made from a dialog resource and
// run modally by a message loop of its own, which lets the dialog look at each message first.
#pragma once

#include <windows.h>

#include <string>

namespace kavenor {

class ModalDialog {
 public:
  explicit ModalDialog(WORD templateId) : templateId_(templateId) {}
  virtual ~ModalDialog() = default;
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Creates the window (owned by `owner`, which is disabled meanwhile) and runs it until EndModal;
  // returns EndModal's result, or -1 when the window could not be created.
  INT_PTR DoModal(HWND owner = nullptr);

  HWND window() const { return window_; }

 protected:
  // WM_INITDIALOG; the window handle is set. TRUE puts the focus on the first control.
  virtual BOOL OnInitDialog() { return TRUE; }

  // One message of the window. Returns true when handled, with the message's result in `result`;
  // false leaves it to the dialog's default handling. IDOK and IDCANCEL end the run by default.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // Called before a message for the window or one of its controls is dispatched; true drops it.
  virtual bool PreTranslateMessage(const MSG&) { return false; }

  // Called before a message for another window of this thread is dispatched (the keyboard of a
  // modeless window, say); true when it has been handled.
  virtual bool PreTranslateOtherMessage(MSG&) { return false; }

  // The modal run has ended; the window still exists and is destroyed right after.
  virtual void OnEndModal() {}

  // Ends the modal run once the current message has been handled.
  void EndModal(INT_PTR result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool IsOwnMessage(const MSG& msg) const;

  WORD templateId_;
  HWND window_ = nullptr;
  bool running_ = false;
  INT_PTR result_ = -1;
};

// The text of a window or control.
std::wstring WindowText(HWND window);

}  // namespace kavenor
