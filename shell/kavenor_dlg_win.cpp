#include "shell/kavenor_dlg_win.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>

#include "common/clock.h"
#include "common/device_model.h"
#include "common/exe_dir.h"
#include "common/line_output.h"
#include "common/settings.h"
#include "common/status_message.h"
#include "common/text.h"
#include "shell/about_dlg_win.h"
#include "shell/notification_icon_win.h"
#include "shell/relaunch.h"
#include "shell/resource.h"
#include "shell/site_texts.h"
#include "shell/startup.h"
#include "shell/status_log.h"

namespace kavenor {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

constexpr wchar_t kNotice[] = L"提示";

// The executable's base name, as the framework names the application.
std::u16string ApplicationName() {
  std::u16string path = GetModulePath();
  std::u16string name = path.substr(path.find_last_of(u"\\/") + 1);
  size_t dot = name.find_last_of(u'.');
  return dot == std::u16string::npos ? name : name.substr(0, dot);
}

}  // namespace

CKavenorDlg::CKavenorDlg(ReaderBackend& reader)
    : ModalDialog(IDD_KAVENOR_DIALOG),
      reader_(reader),
      settingsPath_(SettingsFilePath()),
      instance_(u"Kavenor"),
      icon_(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KAVENOR))),
      server_(reader_, settingsPath_, GetModuleDirWithSeparator(),
              ServiceHooks{{},
                           [this](uint16_t port) { PostToWindow(windowCopy_, ServiceFailedMessage, port); },
                           [this] { return instance_.AwaitPredecessor(kPredecessorWaitMs); },
                           [this](const std::string& origin) { QueueSiteEvent(origin, true); },
                           [this](const std::string& origin) { QueueSiteEvent(origin, false); }}) {}

void CKavenorDlg::QueueSiteEvent(const std::string& origin, bool ask) {
  std::lock_guard<std::mutex> lock(siteEventsMutex_);
  siteEvents_.emplace_back(origin, ask);
  if (siteEvents_.size() == 1) PostToWindow(windowCopy_, SiteQuestionMessage, 0);
}

BOOL CKavenorDlg::OnInitDialog() {
  HWND self = window();
  statusLog_ = GetDlgItem(self, IDC_STATUS_LOG);
  portBox_ = GetDlgItem(self, IDC_PORT);
  modelList_ = GetDlgItem(self, IDC_MODEL);
  deviceNameBox_ = GetDlgItem(self, IDC_DEVICE_NAME);
  siteList_ = GetDlgItem(self, IDC_SITES);

  if (HMENU systemMenu = GetSystemMenu(self, FALSE)) {
    wchar_t about[128] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 128) > 0) {
      AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SendMessageW(self, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(self, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  displayedPort_ = ReadSetting(kPortSetting, settingsPath_);
  SetWindowTextW(portBox_, W(DecimalText(displayedPort_)));

  if (TakeRestartFlag(settingsPath_) == StartKind::kRelaunch) {
    instance_.TakeOver();
  } else if (!instance_.Claim()) {
    MessageBoxW(self, W(kOnlyOneInstance), W(ApplicationName()), MB_OK | MB_ICONEXCLAMATION);
    std::_Exit(0);  // nothing has started yet that would need to end in order
  }

  windowCopy_ = self;
  for (int32_t model = 0; model < kDeviceModelCount; ++model)
    SendMessageW(modelList_, CB_INSERTSTRING, static_cast<WPARAM>(model),
                 reinterpret_cast<LPARAM>(DeviceModelName(model)));
  SendMessageW(modelList_, CB_SETCURSEL, static_cast<WPARAM>(ReadSetting(kModelSetting, settingsPath_)), 0);

  deviceName_ = ReadSetting(kDeviceNameSetting, settingsPath_, 260);
  SetWindowTextW(deviceNameBox_, W(deviceName_));
  ShowSites();

  reader_.SetStatusSink([self](uint32_t code) { PostToWindow(self, StatusMessage, code); });
  server_.Start([self] { SendMessageW(self, WM_SYSCOMMAND, SC_MINIMIZE, 0); });
  return TRUE;
}

// The end in order: the listener and the connections, the command that runs (the reader is closed
// after it), then the icon. The service thread may still be in its minimise request, which this
// thread answers meanwhile.
void CKavenorDlg::OnEndModal() {
  server_.RequestStop();
  while (!server_.Ended()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  server_.Stop();
  questions_.clear();
  RemoveTrayIcon(window());
}

bool CKavenorDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  switch (message) {
    case WM_SYSCOMMAND: OnSysCommand(wParam, lParam); return true;
    case WM_PAINT: OnPaint(); return true;
    case WM_QUERYDRAGICON: result = reinterpret_cast<LRESULT>(icon_); return true;
    case TrayNotifyMessage: result = OnTrayNotify(wParam, lParam); return true;
    case StatusMessage: OnStatusMessage(static_cast<uint32_t>(wParam)); return true;
    case ServiceFailedMessage: OnServiceFailed(static_cast<uint16_t>(wParam)); return true;
    case SiteQuestionMessage: OnSiteQuestions(); return true;
    case WM_SIZE: OnSize(wParam, lParam); return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_SITES && HIWORD(wParam) == LBN_SELCHANGE) {
        EnableWindow(GetDlgItem(window(), IDC_REMOVE_SITE), SendMessageW(siteList_, LB_GETCURSEL, 0, 0) != LB_ERR);
        return true;
      }
      if (HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == STN_CLICKED) {
        switch (LOWORD(wParam)) {
          case IDC_TEST_PAGE: OnTestPage(); return true;
          case IDC_MINIMIZE: MinimizeToTray(); return true;
          case IDC_SET_PORT: OnSetPort(); return true;
          case IDC_SET_MODEL: OnSetModel(); return true;
          case IDC_SET_DEVICE_NAME: OnSetDeviceName(); return true;
          case IDC_REMOVE_SITE: OnRemoveSite(); return true;
          default: break;
        }
      }
      break;
    default: break;
  }
  return ModalDialog::OnMessage(message, wParam, lParam, result);
}

// Neither Enter nor Escape closes the window or presses a button; Enter adds no line to the log.
bool CKavenorDlg::PreTranslateMessage(const MSG& msg) {
  return msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE);
}

// The questions' keyboard: Tab, Enter.
bool CKavenorDlg::PreTranslateOtherMessage(MSG& msg) {
  for (const auto& [site, question] : questions_) {
    HWND window = question->window();
    if (window && (msg.hwnd == window || IsChild(window, msg.hwnd)) && IsDialogMessageW(window, &msg)) return true;
  }
  return false;
}

void CKavenorDlg::OnSysCommand(WPARAM command, LPARAM lParam) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal(window());
  } else {
    DefWindowProcW(window(), WM_SYSCOMMAND, command, lParam);
  }
  if (command == SC_MINIMIZE) MinimizeToTray();
}

void CKavenorDlg::OnPaint() {
  HWND self = window();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(self, &paint);
  RECT client;
  GetClientRect(self, &client);
  if (IsIconic(self)) {
    SendMessageW(self, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
  } else if (HBITMAP background = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND))) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, background);
    BITMAP info{};
    GetObjectW(background, sizeof info, &info);
    // Halftone keeps the shrunk picture smooth; plain colour dropping would band it.
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(background);
  }
  EndPaint(self, &paint);
}

void CKavenorDlg::OnTestPage() {
  std::u16string url = u"http://127.0.0.1:" + DecimalText(displayedPort_);
  ShellExecuteW(nullptr, L"open", W(url), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CKavenorDlg::OnTrayNotify(WPARAM iconId, LPARAM mouseMessage) {
  if (iconId != kTrayIconId) return 1;
  switch (mouseMessage) {
    case WM_LBUTTONDBLCLK:
      ShowWindow(window(), SW_SHOW);
      RemoveTrayIcon(window());
      break;
    case WM_RBUTTONUP: ShowTrayMenu(window()); break;
    default: break;
  }
  return 0;
}

void CKavenorDlg::OnStatusMessage(uint32_t code) { AppendLogLine(StatusLogText(code)); }

void CKavenorDlg::OnServiceFailed(uint16_t port) {
  std::u16string text = ServiceFailedLogText(port);
  AppendLogLine(text);
  ShowTrayBalloon(window(), text);
}

void CKavenorDlg::OnSize(WPARAM sizeType, LPARAM size) {
  DefWindowProcW(window(), WM_SIZE, sizeType, size);
  if (sizeType == SIZE_MINIMIZED) MinimizeToTray();
  // The background follows the size.
  InvalidateRect(window(), nullptr, FALSE);
}

void CKavenorDlg::MinimizeToTray() {
  AddTrayIcon(window(), icon_);
  ShowWindow(window(), SW_HIDE);
}

void CKavenorDlg::AppendLogLine(const std::u16string& text) {
  std::u16string line = StatusLogLine(text, LocalTimeNow());
  std::u16string log = AppendStatusLogLine(U16(WindowText(statusLog_)), line);
  SetWindowTextW(statusLog_, W(log));
  // The newest line in view, however long the log has grown.
  LRESULT end = GetWindowTextLengthW(statusLog_);
  SendMessageW(statusLog_, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(statusLog_, EM_SCROLLCARET, 0, 0);
  // Where standard output leads somewhere (a console, a test), the line goes there too.
  WriteWholeLine(StdStream::kOutput, Utf16ToUtf8(line));
}

void CKavenorDlg::OnSetPort() { RunSettingsChange(PlanPortChange(U16(WindowText(portBox_)))); }

void CKavenorDlg::OnSetModel() {
  int selected = static_cast<int>(SendMessageW(modelList_, CB_GETCURSEL, 0, 0));
  RunSettingsChange(PlanModelChange(selected, U16(WindowText(modelList_))));
}

void CKavenorDlg::OnSetDeviceName() { RunSettingsChange(PlanDeviceNameChange(U16(WindowText(deviceNameBox_)))); }

void CKavenorDlg::OnSiteQuestions() {
  std::vector<std::pair<std::string, bool>> events;
  {
    std::lock_guard<std::mutex> lock(siteEventsMutex_);
    events.swap(siteEvents_);
  }
  for (const auto& [origin, ask] : events) {
    if (!ask) {
      questions_.erase(origin);
    } else if (!questions_.count(origin)) {
      const int stacked = static_cast<int>(questions_.size());
      questions_[origin] = std::make_unique<SiteQuestion>(
          origin, stacked, [this, site = origin](bool allowed) { OnSiteAnswer(site, allowed); });
    }
  }
}

void CKavenorDlg::OnSiteAnswer(const std::string& origin, bool allowed) {
  const bool kept = server_.AnswerOperator(origin, allowed);
  questions_.erase(origin);
  ShowSites();
  if (!kept) ShowMessage(kSiteChangeNotKept, MB_OK | MB_ICONEXCLAMATION);
}

void CKavenorDlg::OnRemoveSite() {
  const LRESULT selected = SendMessageW(siteList_, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR || static_cast<size_t>(selected) >= shownSites_.size()) return;
  const bool kept = server_.ForgetSite(shownSites_[static_cast<size_t>(selected)]);
  ShowSites();
  if (!kept) ShowMessage(kSiteChangeNotKept, MB_OK | MB_ICONEXCLAMATION);
}

// The allowed and refused sites, one a line, wide enough to scroll to the end of the longest.
void CKavenorDlg::ShowSites() {
  SendMessageW(siteList_, LB_RESETCONTENT, 0, 0);
  shownSites_.clear();
  HDC dc = GetDC(siteList_);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(siteList_, WM_GETFONT, 0, 0)));
  LONG widest = 0;
  for (const SiteDecisions::Site& site : server_.Sites()) {
    const std::u16string entry = SiteListEntry(site.origin, site.allowed);
    SendMessageW(siteList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(entry)));
    shownSites_.push_back(site.origin);
    SIZE size{};
    GetTextExtentPoint32W(dc, W(entry), static_cast<int>(entry.size()), &size);
    widest = std::max(widest, size.cx);
  }
  SelectObject(dc, oldFont);
  ReleaseDC(siteList_, dc);
  SendMessageW(siteList_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
  EnableWindow(GetDlgItem(window(), IDC_REMOVE_SITE), FALSE);
}

void CKavenorDlg::RunSettingsChange(const SettingsChange& change) {
  if (!change.refusal.empty()) {
    ShowMessage(change.refusal, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (ShowMessage(change.confirmation, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  // The model first: a command that follows the written setting finds it in force.
  if (change.model) server_.RequestModel(*change.model);
  ApplySettingsChange(change, settingsPath_);
  if (change.relaunch) Relaunch();
}

void CKavenorDlg::Relaunch() {
  if (RelaunchProgram(settingsPath_, [] { return StartProgram(GetModulePath()); }) == RelaunchOutcome::kStarted) {
    // Queued: this instance closes once the handler has returned.
    PostMessageW(window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    return;
  }
  ShowMessage(kRelaunchFailed, MB_OK | MB_ICONEXCLAMATION);
}

int CKavenorDlg::ShowMessage(const std::u16string& text, UINT style) {
  return MessageBoxW(window(), W(text), kNotice, style);
}

}  // namespace kavenor
