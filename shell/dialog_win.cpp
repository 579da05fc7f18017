#include "shell/dialog_win.h"

#include <string>

namespace kavenor {

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int n = GetWindowTextW(window, text.data(), length + 1);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

INT_PTR ModalDialog::DoModal(HWND owner) {
  window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (!window_) return -1;
  // As DialogBox does: a template without WS_VISIBLE is shown once it is initialised.
  if (!IsWindowVisible(window_)) ShowWindow(window_, SW_SHOWNORMAL);
  if (owner) EnableWindow(owner, FALSE);
  running_ = true;
  MSG msg;
  while (running_) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
      break;
    }
    if (IsOwnMessage(msg) ? PreTranslateMessage(msg) : PreTranslateOtherMessage(msg)) continue;
    if (IsDialogMessageW(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  try {
    OnEndModal();
  } catch (...) {
    // Nothing may stop the window from going.
  }
  if (owner) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  DestroyWindow(window_);
  window_ = nullptr;
  return result_;
}

bool ModalDialog::IsOwnMessage(const MSG& msg) const {
  return msg.hwnd == window_ || (msg.hwnd != nullptr && IsChild(window_, msg.hwnd));
}

void ModalDialog::EndModal(INT_PTR result) {
  result_ = result;
  running_ = false;
  // Wakes the loop, which may be waiting for a message.
  PostMessageW(window_, WM_NULL, 0, 0);
}

bool ModalDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndModal(LOWORD(wParam));
    result = 0;
    return true;
  }
  return false;
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  // No exception may cross the system's code that called us.
  try {
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<ModalDialog*>(lParam);
      SetWindowLongPtrW(window, DWLP_USER, lParam);
      self->window_ = window;
      return self->OnInitDialog();
    }
    if (!self) return FALSE;
    LRESULT result = 0;
    if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
    // These messages return their result directly rather than through DWLP_MSGRESULT.
    switch (message) {
      case WM_QUERYDRAGICON:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
        return static_cast<INT_PTR>(result);
      default:
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
  } catch (...) {
    return FALSE;
  }
}

}  // namespace kavenor
