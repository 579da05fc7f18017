// The real Kavenor.exe under Wine, driven through its window by the test driver: start-up, the
// single-instance rule, the settings changes with their relaunches, the status log, the icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <tlhelp32.h>

#include <boost/asio.hpp>
#include <filesystem>
#include <optional>
#include <regex>

#include "common/exe_dir.h"
#include "common/settings.h"
#include "common/test_support.h"
#include "common/text.h"
#include "service/web_socket_test_client.h"
#include "shell/resource.h"
#include "version.h"
#include "tests/window/window_driver.h"

namespace kavenor {
namespace {

namespace fs = std::filesystem;
namespace asio = boost::asio;
using testing::FreePort;
using testing::KavenorProcess;
using testing::WaitUntil;

const std::u16string kNotice = u"提示";

bool Serves(uint16_t port) {
  testing::WebSocketTestClient client;
  return client.Connect(asio::ip::address_v4::loopback(), port);
}

// One command over a fresh connection; the reply's text.
std::string Command(uint16_t port, const std::string& command) {
  testing::WebSocketTestClient client;
  if (!client.Connect(asio::ip::address_v4::loopback(), port)) return "<no connection>";
  client.Handshake();
  client.Send(command);
  std::string frame = client.Receive();
  return frame.substr(frame.find(':') + 1);
}

// The reader hosts running on this machine (of every program under test).
int ReaderHostCount() {
  int count = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    count += _wcsicmp(entry.szExeFile, L"KavenorReaderHost.exe") == 0;
  CloseHandle(snapshot);
  return count;
}

std::u16string ShotPath(const std::u16string& name) {
  std::u16string dir = JoinPath(GetExeDir(), u"..\\window-shots");
  testing::MakeDirs(dir);
  return JoinPath(dir, name);
}

// A scratch copy of the app folder, with a reader on port 1 in every SDK folder.
class TestApp {
 public:
  explicit TestApp(const std::optional<std::string>& config) : dir_(u"kavenor-window") {
    fs::copy(fs::path(JoinPath(GetExeDir(), u"..\\app")), fs::path(dir_.path()), fs::copy_options::recursive);
    testing::RemoveFile(ConfigPath());
    for (const char16_t* sdk : {u"ORV5A", u"ORV5U", u"ORV5ULN"})
      testing::WriteFileBytes(JoinPath(dir_.Join(sdk), u"scenario.ini"), "ports=1\n");
    if (config) testing::WriteFileBytes(ConfigPath(), *config);
  }
  std::u16string Exe() const { return dir_.Join(u"Kavenor.exe"); }
  std::u16string ConfigPath() const { return dir_.Join(u"Config.ini"); }
  std::u16string SdkDir(const char16_t* name) const { return dir_.Join(name); }
  std::u16string Setting(const char16_t* section, const char16_t* key) const {
    return ReadSettingString(section, key, u"<none>", ConfigPath(), 260);
  }

 private:
  testing::ScratchDir dir_;
};

std::string PortConfig(uint16_t port) { return "[IP]\r\nport=" + std::to_string(port) + "\r\n"; }

bool LogHasLine(HWND dialog, const std::u16string& text) {
  std::string log = Utf16ToUtf8(testing::ControlText(dialog, IDC_STATUS_LOG));
  std::regex line("(^|\r\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d " + Utf16ToUtf8(text) + "\r\n");
  return std::regex_search(log, line);
}

// Answers the message box that the program shows next: checks its caption and text.
void ExpectMessageBox(const KavenorProcess& program, const std::u16string& caption, const std::u16string& text,
                      int answer, const std::u16string& screenshot = {}) {
  HWND box = program.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Utf16ToUtf8(testing::WindowCaption(box)), Utf16ToUtf8(caption));
  EXPECT_EQ(Utf16ToUtf8(testing::MessageBoxText(box)), Utf16ToUtf8(text));
  if (!screenshot.empty()) {
    EXPECT_TRUE(testing::Screenshot(box, ShotPath(screenshot)));
  }
  testing::Answer(box, answer);
  WaitUntil([&] { return !IsWindow(box); }, "the message box to close");
}

// The window as the operator brings it back: a double-click on the icon shows it (still minimised,
// as it was hidden), and a restore from its taskbar button opens it.
void BringBack(HWND dialog) {
  PostMessageW(dialog, 2025, 128, WM_LBUTTONDBLCLK);
  WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, "the window to be shown");
  PostMessageW(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
  WaitUntil([&] { return !IsIconic(dialog); }, "the window to be restored");
  SetForegroundWindow(dialog);
  Sleep(500);  // let it paint before the screenshot
}

// Xvfb has no window manager to draw captions and borders: Wine draws them itself.
class WineDrawsFrames : public ::testing::Environment {
 public:
  void SetUp() override {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return;
    RegSetValueExW(key, L"Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
    RegCloseKey(key);
  }
};
const auto* const kWineDrawsFrames = ::testing::AddGlobalTestEnvironment(new WineDrawsFrames);

// The version resource as Explorer's properties page reads it.
TEST(Window, VersionResource) {
  TestApp app("");
  const std::u16string path = app.Exe();
  const auto* exe = reinterpret_cast<const wchar_t*>(path.c_str());
  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(exe, &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(exe, 0, static_cast<DWORD>(info.size()), info.data()));
  auto value = [&](const wchar_t* name) {
    void* text = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(info.data(), path.c_str(), &text, &length)) return std::string("<none>");
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
  };
  EXPECT_EQ(value(L"FileVersion"), KAVENOR_VERSION_TEXT);
  EXPECT_EQ(value(L"ProductVersion"), KAVENOR_VERSION_TEXT);
  EXPECT_EQ(value(L"FileDescription"), "Kavenor 读卡服务");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(KAVENOR_VERSION_MAJOR << 16 | KAVENOR_VERSION_MINOR));
}

TEST(Window, FirstStartShowsDefaultsHidesAndKeepsOpenOnEnterAndEscape) {
  TestApp app(std::nullopt);
  KavenorProcess program = KavenorProcess::Start(app.Exe());
  HWND dialog = program.Dialog();
  ASSERT_NE(dialog, nullptr);
  WaitUntil([&] { return !IsWindowVisible(dialog); }, "the window to hide behind the icon");
  EXPECT_EQ(testing::ControlText(dialog, IDC_PORT), u"7415");
  EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_MODEL), CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Utf16ToUtf8(testing::ControlText(dialog, IDC_MODEL)), "ORV5U");
  EXPECT_EQ(Utf16ToUtf8(testing::ControlText(dialog, IDC_DEVICE_NAME)), "大厅1");
  EXPECT_EQ(testing::ReadFileBytes(app.ConfigPath()), "[IP]\r\nRestart=0\r\n");

  BringBack(dialog);
  EXPECT_TRUE(IsWindowVisible(dialog));
  PostMessageW(dialog, 3025, 7, 0);
  WaitUntil([&] { return LogHasLine(dialog, u"未知错误:7"); }, "the status line");
  EXPECT_TRUE(testing::Screenshot(dialog, ShotPath(u"window.png")));

  // Enter and Escape reach the window's loop and are dropped there: nothing closes, no line is added.
  const std::u16string log = testing::ControlText(dialog, IDC_STATUS_LOG);
  for (int id : {IDC_PORT, IDC_STATUS_LOG, IDC_SET_PORT})
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) PostMessageW(GetDlgItem(dialog, id), WM_KEYDOWN, key, 1);
  PostMessageW(dialog, 3025, 0, 0);  // handled after the keys: the window is still there
  WaitUntil([&] { return LogHasLine(dialog, u"读卡成功"); }, "the status line after the keys");
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(testing::ControlText(dialog, IDC_STATUS_LOG).rfind(log, 0), 0u);
  EXPECT_EQ(program.MessageBox(), nullptr);

  // Once the log is taller than its box, the newest line stays in view.
  for (int i = 0; i < 40; ++i) PostMessageW(dialog, 3025, 3, 0);
  PostMessageW(dialog, 3025, 2, 0);
  WaitUntil([&] { return LogHasLine(dialog, u"设备无法连接，请拔插一下设备"); }, "the last of many lines");
  HWND logBox = GetDlgItem(dialog, IDC_STATUS_LOG);
  const LRESULT lines = SendMessageW(logBox, EM_GETLINECOUNT, 0, 0);
  EXPECT_GT(lines, 40);
  EXPECT_GT(SendMessageW(logBox, EM_GETFIRSTVISIBLELINE, 0, 0), lines - 30);
  EXPECT_TRUE(testing::Screenshot(dialog, ShotPath(u"window-long-log.png")));

  // The About box, from the system menu's command.
  PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = program.WaitForMessageBox();
  EXPECT_EQ(Utf16ToUtf8(testing::WindowCaption(about)), "关于 Kavenor");
  Sleep(500);
  EXPECT_TRUE(testing::Screenshot(about, ShotPath(u"about.png")));
  testing::Answer(about, IDOK);
  WaitUntil([&] { return !IsWindow(about); }, "the About box to close");

  // A port that is no port: refused before anything is asked or written.
  testing::SetControlText(dialog, IDC_PORT, u"abc");
  testing::Click(dialog, IDC_SET_PORT);
  ExpectMessageBox(program, kNotice, u"端口号应为1到65535之间的整数", IDOK, u"message-box.png");
  EXPECT_EQ(testing::ReadFileBytes(app.ConfigPath()), "[IP]\r\nRestart=0\r\n");

  // Hidden again by the minimise picture, then "关闭" ends the program.
  testing::Click(dialog, IDC_MINIMIZE);
  WaitUntil([&] { return !IsWindowVisible(dialog); }, "the window to hide");
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

// "关闭" while a read runs: the read finishes, the reader is closed, the icon goes, exit code 0.
TEST(Window, CloseEndsInOrderAfterTheRunningCommand) {
  const uint16_t port = FreePort();
  TestApp app(PortConfig(port));
  const std::u16string sdk = app.SdkDir(u"ORV5U");
  testing::WriteFileBytes(JoinPath(sdk, u"scenario.ini"), "ports=1\ndelay_ms=100\n");
  const int iconsBefore = testing::TrayIconCount(), hostsBefore = ReaderHostCount();
  KavenorProcess program = KavenorProcess::Start(app.Exe());
  HWND dialog = program.Dialog();
  WaitUntil([&] { return Serves(port); }, "the service");
  WaitUntil([&] { return testing::TrayIconCount() == iconsBefore + 1; }, "the notification icon");
  EXPECT_EQ(ReaderHostCount(), hostsBefore + 1);

  testing::RemoveFile(JoinPath(sdk, u"calls.log"));
  testing::WebSocketTestClient client;
  ASSERT_TRUE(client.Connect(asio::ip::address_v4::loopback(), port));
  client.Handshake();
  client.Send("3");
  const auto calls = [&] { return testing::ReadLines(JoinPath(sdk, u"calls.log")); };
  WaitUntil([&] { return calls().size() >= 2; }, "the read to begin");
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // what the icon menu's "关闭" sends
  EXPECT_EQ(program.WaitForExit(), 0u);

  const std::vector<std::string> log = calls();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find(" ORV_CloseComm"), std::string::npos) << log.back();
  bool readContent = false;
  for (const std::string& line : log) readContent = readContent || line.find(" ORV_Read_Content") != std::string::npos;
  EXPECT_TRUE(readContent) << "the read ran to its end";
  WaitUntil([&] { return testing::TrayIconCount() == iconsBefore; }, "the icon to be removed");
  WaitUntil([&] { return ReaderHostCount() == hostsBefore; }, "the reader host to end with the program");
}

// The SDK's failures as the operator sees them: a call that hangs and a crash each cost one read
// and leave one line; the next read works, in the same program.
TEST(Window, AHungCallAndACrashInTheSdkAreLoggedAndTheNextReadWorks) {
  const uint16_t port = FreePort();
  TestApp app(PortConfig(port) + "[Reader]\r\nCallTimeoutMs=2000\r\n");
  testing::WriteFileBytes(JoinPath(app.SdkDir(u"ORV5U"), u"scenario.ini"),
                          "ports=1\nhang.ORV_Authenticate=once\ncrash.ORV_Read_Content=once\n");
  KavenorProcess program = KavenorProcess::Start(app.Exe());
  HWND dialog = program.Dialog();
  WaitUntil([&] { return Serves(port); }, "the service");

  const std::string failed = Utf16ToUtf8(u"读卡失败");
  EXPECT_EQ(Command(port, "3"), failed);  // ORV_Authenticate does not return
  WaitUntil([&] { return LogHasLine(dialog, u"读卡组件无响应，已重新启动"); }, "the hang's status line");
  EXPECT_EQ(Command(port, "3"), failed);  // ORV_Read_Content crashes
  WaitUntil([&] { return LogHasLine(dialog, u"读卡组件意外退出，已重新启动"); }, "the crash's status line");
  EXPECT_EQ(Command(port, "3").rfind("ORV5U|大厅1|", 0), 0u);
  WaitUntil([&] { return LogHasLine(dialog, u"读卡成功"); }, "the read's status line");
  EXPECT_TRUE(program.Running());
  BringBack(dialog);
  EXPECT_TRUE(testing::Screenshot(dialog, ShotPath(u"window-reader-host.png")));
}

// The list of sites in the settings window, a line each.
std::vector<std::string> SiteLines(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_SITES);
  std::vector<std::string> lines;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    lines.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(text)));
  }
  return lines;
}

// A page of a new site: the operator is asked from beside the icon; 允许 serves the waiting command
// and is kept, 拒绝 closes the page's connection with 1008 and is kept; the settings window lists
// both and removes one.
TEST(Window, TheOperatorDecidesWhichSitesMayUseTheReader) {
  const uint16_t port = FreePort();
  TestApp app(PortConfig(port));
  KavenorProcess program = KavenorProcess::Start(app.Exe());
  HWND dialog = program.Dialog();
  WaitUntil([&] { return Serves(port); }, "the service");
  WaitUntil([&] { return !IsWindowVisible(dialog); }, "the window to hide behind the icon");
  const std::u16string sdk = app.SdkDir(u"ORV5U");
  const auto samReads = [&] {
    size_t n = 0;
    for (const std::string& line : testing::ReadLines(JoinPath(sdk, u"calls.log")))
      n += line.find(" ORV_GetSAMID") != std::string::npos;
    return n;
  };
  const auto page = [&](testing::WebSocketTestClient& client, const std::string& origin) {
    EXPECT_TRUE(client.Connect(asio::ip::address_v4::loopback(), port));
    EXPECT_EQ(client.Handshake("Origin: " + origin + "\r\n").substr(0, 12), "HTTP/1.1 101");
    client.Send("5");
  };

  testing::WebSocketTestClient counter;
  page(counter, "https://counter.example.cn");
  HWND question = program.WaitForMessageBox();
  EXPECT_EQ(Utf16ToUtf8(testing::WindowCaption(question)), "Kavenor");
  EXPECT_EQ(Utf16ToUtf8(testing::ControlText(question, IDC_SITE_QUESTION)),
            "网页 https://counter.example.cn 请求使用读卡器。是否允许？");
  Sleep(500);  // let it paint before the screenshot
  EXPECT_TRUE(testing::Screenshot(question, ShotPath(u"site-question.png")));
  EXPECT_EQ(samReads(), 0u);  // the page's command waits for the answer
  testing::Answer(question, IDC_ALLOW_SITE);
  EXPECT_EQ(counter.Receive(), "1:05.01-00002019-0000123456-0000000007");
  WaitUntil([&] { return !IsWindow(question); }, "the question to go");
  EXPECT_EQ(Utf16ToUtf8(app.Setting(u"Security", u"AllowedOrigins")), "https://counter.example.cn");

  testing::WebSocketTestClient other;
  page(other, "https://other.example");
  question = program.WaitForMessageBox();
  PostMessageW(GetDlgItem(question, IDC_DENY_SITE), WM_KEYDOWN, VK_RETURN, 1);  // Enter: 拒绝
  const std::string closed = other.Receive();
  EXPECT_EQ(closed.substr(0, 2) + closed.substr(4), "8:refused by the operator");
  EXPECT_EQ(closed.substr(2, 2), "\x03\xf0");  // 1008
  EXPECT_EQ(Utf16ToUtf8(app.Setting(u"Security", u"DeniedOrigins")), "https://other.example");
  EXPECT_EQ(samReads(), 1u);

  BringBack(dialog);
  EXPECT_EQ(SiteLines(dialog), (std::vector<std::string>{"允许  https://counter.example.cn", "拒绝  https://other.example"}));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SITE)));
  HWND list = GetDlgItem(dialog, IDC_SITES);
  SendMessageW(list, LB_SETCURSEL, 1, 0);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SITES, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  WaitUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SITE)) != FALSE; }, "the remove button");
  EXPECT_TRUE(testing::Screenshot(dialog, ShotPath(u"window-sites.png")));
  testing::Click(dialog, IDC_REMOVE_SITE);
  WaitUntil([&] { return SiteLines(dialog).size() == 1; }, "the site to be removed");
  EXPECT_EQ(Utf16ToUtf8(app.Setting(u"Security", u"DeniedOrigins")), "");

  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST(Window, SecondStartRefusedModelChangeAndStatusLog) {
  const uint16_t port = FreePort();
  TestApp app(PortConfig(port));
  KavenorProcess first = KavenorProcess::Start(app.Exe());
  HWND dialog = first.Dialog();
  WaitUntil([&] { return Serves(port); }, "the service");

  KavenorProcess second = KavenorProcess::Start(app.Exe());
  ExpectMessageBox(second, u"Kavenor", u"只能启动一个程序", IDOK);
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_TRUE(first.Running());

  // A read's outcome becomes one timestamped line.
  EXPECT_EQ(Command(port, "3").rfind("ORV5U|大厅1|", 0), 0u);
  WaitUntil([&] { return LogHasLine(dialog, u"读卡成功"); }, "the read's status line");

  const std::string noBankCard = Utf16ToUtf8(u"设备无此功能");
  EXPECT_EQ(Command(port, "9"), noBankCard);
  // No: nothing changes.
  SendMessageW(GetDlgItem(dialog, IDC_MODEL), CB_SETCURSEL, 1, 0);
  testing::Click(dialog, IDC_SET_MODEL);
  ExpectMessageBox(first, kNotice, u"确定修改设备型号吗？", IDNO);
  EXPECT_EQ(app.Setting(u"Device", u"ID"), u"<none>");
  EXPECT_EQ(Command(port, "9"), noBankCard);
  // Yes: the next command uses ORV5A, without a restart.
  testing::Click(dialog, IDC_SET_MODEL);
  ExpectMessageBox(first, kNotice, u"确定修改设备型号吗？", IDYES);
  WaitUntil([&] { return app.Setting(u"Device", u"ID") == u"1"; }, "[Device] ID=1");
  EXPECT_NE(Command(port, "9"), noBankCard);
  EXPECT_TRUE(first.Running());

  // A typed name that is no entry is refused; one that is, in any case, is taken.
  SendMessageW(GetDlgItem(dialog, IDC_MODEL), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  testing::SetControlText(dialog, IDC_MODEL, u"ORV9");
  testing::Click(dialog, IDC_SET_MODEL);
  ExpectMessageBox(first, kNotice, u"请从列表中选择设备型号", IDOK);
  EXPECT_EQ(app.Setting(u"Device", u"ID"), u"1");
  SendMessageW(GetDlgItem(dialog, IDC_MODEL), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  testing::SetControlText(dialog, IDC_MODEL, u"orv5u-ln");
  testing::Click(dialog, IDC_SET_MODEL);
  ExpectMessageBox(first, kNotice, u"确定修改设备型号吗？", IDYES);
  WaitUntil([&] { return app.Setting(u"Device", u"ID") == u"3"; }, "[Device] ID=3");
  EXPECT_EQ(Command(port, "3").rfind("ORV-5U-HID||", 0), 0u);

  // A device name with the record's separator is refused; No to a good one changes nothing.
  testing::SetControlText(dialog, IDC_DEVICE_NAME, u"Desk|2");
  testing::Click(dialog, IDC_SET_DEVICE_NAME);
  ExpectMessageBox(first, kNotice, u"设备名称不能包含“|”", IDOK);
  testing::SetControlText(dialog, IDC_DEVICE_NAME, u"窗口2");
  testing::Click(dialog, IDC_SET_DEVICE_NAME);
  ExpectMessageBox(first, kNotice, u"确定修改设备名称吗？", IDNO);
  EXPECT_EQ(app.Setting(u"Device", u"DeviceName"), u"<none>");
  EXPECT_EQ(app.Setting(u"IP", u"Restart"), u"0");
  EXPECT_TRUE(first.Running());
}

TEST(Window, PortAndDeviceNameChangesRelaunch) {
  const uint16_t oldPort = FreePort(), newPort = FreePort();
  ASSERT_NE(oldPort, newPort);
  TestApp app(PortConfig(oldPort));
  KavenorProcess first = KavenorProcess::Start(app.Exe());
  HWND dialog = first.Dialog();
  WaitUntil([&] { return Serves(oldPort); }, "the service");

  // No: nothing written, nothing relaunched.
  testing::SetControlText(dialog, IDC_PORT, Utf8ToUtf16(std::to_string(newPort)));
  testing::Click(dialog, IDC_SET_PORT);
  ExpectMessageBox(first, kNotice, u"确定修改端口号吗？修改后请手动修改测试网页端口号。", IDNO);
  EXPECT_EQ(app.Setting(u"IP", u"port"), Utf8ToUtf16(std::to_string(oldPort)));
  EXPECT_EQ(app.Setting(u"IP", u"Restart"), u"0");
  EXPECT_TRUE(first.Running());

  testing::SetControlText(dialog, IDC_PORT, u" " + Utf8ToUtf16(std::to_string(newPort)) + u" ");
  testing::Click(dialog, IDC_SET_PORT);
  ExpectMessageBox(first, kNotice, u"确定修改端口号吗？修改后请手动修改测试网页端口号。", IDYES);
  EXPECT_EQ(first.WaitForExit(), 0u);
  KavenorProcess second = KavenorProcess::FindAnotherThan(first.id());
  WaitUntil([&] { return Serves(newPort); }, "the service on the new port");
  EXPECT_EQ(app.Setting(u"IP", u"port"), Utf8ToUtf16(std::to_string(newPort)));
  EXPECT_EQ(app.Setting(u"IP", u"Restart"), u"0");
  EXPECT_EQ(testing::ControlText(second.Dialog(), IDC_PORT), Utf8ToUtf16(std::to_string(newPort)));

  // The relaunched instance holds the single-instance name: a normal start is refused again.
  KavenorProcess third = KavenorProcess::Start(app.Exe());
  ExpectMessageBox(third, u"Kavenor", u"只能启动一个程序", IDOK);
  EXPECT_EQ(third.WaitForExit(), 0u);

  // A device-name change relaunches on the same port, which the old instance holds until it ends.
  HWND secondDialog = second.Dialog();
  testing::SetControlText(secondDialog, IDC_DEVICE_NAME, u"窗口2");
  testing::Click(secondDialog, IDC_SET_DEVICE_NAME);
  ExpectMessageBox(second, kNotice, u"确定修改设备名称吗？", IDYES);
  EXPECT_EQ(second.WaitForExit(), 0u);
  KavenorProcess fourth = KavenorProcess::FindAnotherThan(second.id());
  WaitUntil([&] { return Serves(newPort); }, "the service after the name change");
  EXPECT_EQ(Command(newPort, "3").rfind("ORV5U|窗口2|", 0), 0u);
  EXPECT_EQ(app.Setting(u"IP", u"Restart"), u"0");
  EXPECT_TRUE(fourth.Running());
}

TEST(Window, AFailedRelaunchKeepsThisInstance) {
  const uint16_t port = FreePort();
  TestApp app(PortConfig(port));
  KavenorProcess program = KavenorProcess::Start(app.Exe());
  HWND dialog = program.Dialog();
  WaitUntil([&] { return Serves(port); }, "the service");
  // The program's file is gone from where it was started: it cannot be started again.
  ASSERT_TRUE(MoveFileW(reinterpret_cast<const wchar_t*>(app.Exe().c_str()),
                        reinterpret_cast<const wchar_t*>((app.Exe() + u".moved").c_str())));
  testing::SetControlText(dialog, IDC_PORT, Utf8ToUtf16(std::to_string(FreePort())));
  testing::Click(dialog, IDC_SET_PORT);
  ExpectMessageBox(program, kNotice, u"确定修改端口号吗？修改后请手动修改测试网页端口号。", IDYES);
  ExpectMessageBox(program, kNotice, u"程序重新启动失败，新设置将在下次启动时生效", IDOK);
  EXPECT_TRUE(program.Running());
  EXPECT_TRUE(Serves(port));
  EXPECT_EQ(app.Setting(u"IP", u"Restart"), u"0");
}

TEST(Window, APortTakenByAnotherProgramIsLogged) {
  asio::io_context io;
  asio::ip::tcp::acceptor holder(io);
  // A plain listening socket, as most programs open one: the service must not share its port.
  holder.open(asio::ip::tcp::v4());
  holder.bind(asio::ip::tcp::endpoint(asio::ip::address_v4::any(), 0));
  holder.listen();
  const uint16_t port = holder.local_endpoint().port();
  TestApp app(PortConfig(port));
  KavenorProcess program = KavenorProcess::Start(app.Exe());
  HWND dialog = program.Dialog();
  const std::u16string line = u"服务未能启动：端口" + Utf8ToUtf16(std::to_string(port)) + u"已被占用或无法使用";
  WaitUntil([&] { return LogHasLine(dialog, line); }, "the failure in the status log");
  EXPECT_TRUE(program.Running());
}

}  // namespace
}  // namespace kavenor
