// answer_message_boxes.exe COUNT: waits for COUNT message boxes of Kavenor.exe processes, writes each
// one's text as a line of UTF-8 and answers it with OK. The download tests start the program from
// Python and see through this what it shows at start, as an operator would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool IsKavenorProcess(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return false;
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const bool named = QueryFullProcessImageNameW(process, 0, path, &size) != FALSE;
  CloseHandle(process);
  const wchar_t* name = wcsrchr(path, L'\\');
  return named && name && _wcsicmp(name + 1, L"Kavenor.exe") == 0;
}

// A shown message box: a dialog with the text control that MessageBox gives the id 0xFFFF.
BOOL CALLBACK CollectBoxes(HWND window, LPARAM found) {
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) && GetDlgItem(window, 0xFFFF) &&
      IsKavenorProcess(processId))
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int count = argc > 1 ? _wtoi(argv[1]) : 1;
  int answered = 0;
  // A guard against a hang only (five minutes): the caller's test fails on a missing line.
  for (int tick = 0; answered < count && tick < 3000; ++tick) {
    std::vector<HWND> boxes;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    if (boxes.empty()) {
      Sleep(100);
      continue;
    }
    HWND box = boxes.front();
    wchar_t text[4096] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    std::printf("%s\n", Utf8(text).c_str());
    std::fflush(stdout);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    // The next box may reuse this one's handle: it counts once it is gone.
    while (IsWindow(box) && tick++ < 3000) Sleep(100);
    ++answered;
  }
  return answered == count ? 0 : 1;
}
