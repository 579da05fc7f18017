// The program on Windows: the application object and its start routine, which runs the settings
// window modally and then ends the process.
#include <windows.h>

#include <commctrl.h>

#include "common/exe_dir.h"
#include "common/line_output.h"
#include "common/startup_message.h"
#include "reader_host/isolated_reader.h"
#include "shell/kavenor_dlg_win.h"

namespace kavenor {
namespace {

class CKavenorApp {
 public:
  // Restart support only: Windows starts the program again after an update or a crash ended it.
  CKavenorApp() = default;

  // Runs the settings window; its modal run ends with the service and the reader stopped in order.
  int InitInstance() {
    // First: the reader host loads the libraries, and a library that does not load is shown at once.
    const std::unique_ptr<ReaderBackend> reader = StartReader(GetModuleDirWithSeparator(), ShowStartupMessage);
    INITCOMMONCONTROLSEX controls{8, 0xFF};
    InitCommonControlsEx(&controls);
    RegisterApplicationRestart(L"", 0);
    UseWholeLinesOnStandardStreams();

    CKavenorDlg dialog(*reader);
    dialog.DoModal();
    return 0;
  }
};

CKavenorApp theApp;

}  // namespace
}  // namespace kavenor

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return kavenor::theApp.InitInstance(); }
