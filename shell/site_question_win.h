// The question to the operator about a new site: a small window beside the notification area,
// above the other windows, naming the site, with 允许 and 拒绝. It stays until it is answered or
// withdrawn; Enter answers 拒绝.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kavenor {

class SiteQuestion {
 public:
  using AnswerFn = std::function<void(bool allowed)>;

  // Shows the question about `origin`, the `stacked`th (from 0) of those open at once: each above
  // the one before. `answer` is called once, on this thread, when a button is pressed.
  SiteQuestion(const std::string& origin, int stacked, AnswerFn answer);
  ~SiteQuestion();  // the window goes, unanswered if it was not
  SiteQuestion(const SiteQuestion&) = delete;
  SiteQuestion& operator=(const SiteQuestion&) = delete;

  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::string origin_;
  AnswerFn answer_;
  HWND window_ = nullptr;
};

}  // namespace kavenor
