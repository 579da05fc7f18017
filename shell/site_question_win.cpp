#include "shell/site_question_win.h"

#include "shell/resource.h"
#include "shell/site_texts.h"

namespace kavenor {

SiteQuestion::SiteQuestion(const std::string& origin, int stacked, AnswerFn answer)
    : origin_(origin), answer_(std::move(answer)) {
  window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SITE_QUESTION), nullptr, DialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (!window_) return;
  const std::u16string text = SiteQuestionText(origin);
  SetDlgItemTextW(window_, IDC_SITE_QUESTION, reinterpret_cast<const wchar_t*>(text.c_str()));
  // Bottom right of the work area, where the notification icon is; later questions above.
  RECT area{}, frame{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top, margin = 12;
  SetWindowPos(window_, HWND_TOPMOST, area.right - width - margin, area.bottom - (height + margin) * (stacked + 1), 0,
               0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(window_);
  FLASHWINFO flash{sizeof flash, window_, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
}

SiteQuestion::~SiteQuestion() {
  if (window_) DestroyWindow(window_);
}

INT_PTR CALLBACK SiteQuestion::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    SetFocus(GetDlgItem(window, IDC_DENY_SITE));
    return FALSE;  // the focus is set
  }
  auto* self = reinterpret_cast<SiteQuestion*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self || message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
  const WORD button = LOWORD(wParam);
  if (button != IDC_ALLOW_SITE && button != IDC_DENY_SITE) return TRUE;  // Escape: the question stays
  // Once: the answer may destroy this object.
  AnswerFn answer;
  answer.swap(self->answer_);
  if (answer) answer(button == IDC_ALLOW_SITE);
  return TRUE;
}

}  // namespace kavenor
