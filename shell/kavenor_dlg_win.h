// CKavenorDlg: the settings window. It reads Config.ini, makes the single-instance check, starts the
// service thread, hides behind the notification icon, logs the posted statuses and runs the
// settings changes.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "service/web_socket_server.h"
#include "shell/dialog_win.h"
#include "shell/settings_change.h"
#include "shell/single_instance.h"
#include "shell/site_question_win.h"

namespace kavenor {

class CKavenorDlg : public ModalDialog {
 public:
  // `reader` must outlive the dialog; its reader thread uses it until the modal run has ended.
  explicit CKavenorDlg(ReaderBackend& reader);

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool PreTranslateMessage(const MSG& msg) override;
  bool PreTranslateOtherMessage(MSG& msg) override;
  void OnEndModal() override;

 private:
  void OnSysCommand(WPARAM command, LPARAM lParam);
  void OnPaint();
  void OnTestPage();
  LRESULT OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);
  void OnStatusMessage(uint32_t code);
  void OnServiceFailed(uint16_t port);
  void OnSize(WPARAM sizeType, LPARAM size);
  void OnSetPort();
  void OnSetModel();
  void OnSetDeviceName();
  void OnSiteQuestions();
  void OnSiteAnswer(const std::string& origin, bool allowed);
  void OnRemoveSite();
  void ShowSites();

  void QueueSiteEvent(const std::string& origin, bool ask);
  void MinimizeToTray();
  void AppendLogLine(const std::u16string& text);
  void RunSettingsChange(const SettingsChange& change);
  void Relaunch();
  int ShowMessage(const std::u16string& text, UINT style);

  ReaderBackend& reader_;
  std::u16string settingsPath_;
  SingleInstance instance_;

  HICON icon_ = nullptr;
  CWebSocketServer server_;
  HWND statusLog_ = nullptr;
  HWND windowCopy_ = nullptr;  // set before the service thread starts; the target of the reader's posts
  int32_t displayedPort_ = 0;
  std::u16string deviceName_;
  HWND portBox_ = nullptr;
  HWND modelList_ = nullptr;
  HWND deviceNameBox_ = nullptr;
  HWND siteList_ = nullptr;
  std::vector<std::string> shownSites_;  // the origin of each line of the list

  // The service's questions and withdrawals (true: ask), posted from the service thread.
  std::mutex siteEventsMutex_;
  std::vector<std::pair<std::string, bool>> siteEvents_;
  std::map<std::string, std::unique_ptr<SiteQuestion>> questions_;  // open, by site
};

}  // namespace kavenor
