#include "shell/notification_icon_win.h"

#include <shellapi.h>

#include <cwchar>

namespace kavenor {
namespace {

constexpr wchar_t kTip[] = L"澜越读卡监控";

NOTIFYICONDATAW Record(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = kTrayIconId;
  return data;
}

}  // namespace

void AddTrayIcon(HWND owner, HICON icon) {
  NOTIFYICONDATAW data = Record(owner);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = TrayNotifyMessage;
  data.hIcon = icon;
  wcsncpy(data.szTip, kTip, sizeof data.szTip / sizeof data.szTip[0] - 1);
  Shell_NotifyIconW(NIM_ADD, &data);
}

void RemoveTrayIcon(HWND owner) {
  NOTIFYICONDATAW data = Record(owner);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void ShowTrayBalloon(HWND owner, const std::u16string& text) {
  NOTIFYICONDATAW data = Record(owner);
  data.uFlags = NIF_INFO;
  data.dwInfoFlags = NIIF_WARNING;
  wcsncpy(data.szInfo, reinterpret_cast<const wchar_t*>(text.c_str()), sizeof data.szInfo / sizeof data.szInfo[0] - 1);
  wcsncpy(data.szInfoTitle, L"Kavenor", sizeof data.szInfoTitle / sizeof data.szInfoTitle[0] - 1);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void ShowTrayMenu(HWND owner) {
  POINT cursor{};
  GetCursorPos(&cursor);
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendMenuW(menu, MF_STRING, IDCANCEL, L"关闭");
  // Without this the menu stays open when the operator clicks elsewhere.
  SetForegroundWindow(owner);
  TrackPopupMenu(menu, 0, cursor.x, cursor.y, 0, owner, nullptr);
  DestroyMenu(menu);
}

}  // namespace kavenor
