// The program's icon in the notification area: its record, its one-item menu, its balloon.
#pragma once

#include <windows.h>

#include <string>

namespace kavenor {

// WM_USER + 1001: the icon's mouse messages; wParam the icon's identifier, lParam the mouse message.
constexpr UINT TrayNotifyMessage = 2025;
constexpr UINT kTrayIconId = 128;

// Adds the icon (tooltip "澜越读卡监控") owned by `owner`; adding it twice changes nothing.
void AddTrayIcon(HWND owner, HICON icon);
void RemoveTrayIcon(HWND owner);

// Shows `text` as a balloon from the icon, where the icon is present.
void ShowTrayBalloon(HWND owner, const std::u16string& text);

// The menu with its one item "关闭" at the cursor; choosing it sends IDCANCEL to `owner`.
void ShowTrayMenu(HWND owner);

}  // namespace kavenor
