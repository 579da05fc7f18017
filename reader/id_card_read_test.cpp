#include <gtest/gtest.h>

#include "common/settings.h"
#include "common/status_message.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;
using Op = std::u16string (ReaderDriver::*)();

struct FlowCase {
  const char* name;
  DriverKind kind;
  Op op;
  std::vector<std::pair<std::string, std::string>> scenario;
  std::u16string reply;  // a prefix of the reply when `replyIsPrefix`
  bool replyIsPrefix;
  uint32_t status;
  std::vector<std::string> calls;  // the call names, in order
};

const std::vector<std::string> kNoReader = [] {
  return std::vector<std::string>(33, "ORV_InitComm");
}();

TEST(IdCardRead, OutcomesStatusAndClosing) {
  const FlowCase cases[] = {
      {"no port", DriverKind::k5A, &ReaderDriver::ReadIdCard, {{"ports", ""}}, u"连接设备失败", false, 2, kNoReader},
      {"authentication fails", DriverKind::k5A, &ReaderDriver::ReadIdCard,
       {{"ports", "1"}, {"result.ORV_Authenticate", "0"}}, u"卡认证失败", false, 1,
       {"ORV_InitComm", "ORV_Authenticate", "ORV_CloseComm"}},
      {"no card, no-judge", DriverKind::k5ULN, &ReaderDriver::ReadIdCardNoJudge,
       {{"ports", "1"}, {"card", "0"}}, u"卡认证失败", false, 1,
       {"ORV_InitComm", "ORV_AuthenticateForNoJudge", "ORV_CloseComm"}},
      {"read fails, 5A", DriverKind::k5A, &ReaderDriver::ReadIdCard,
       {{"ports", "1"}, {"result.ORV_Read_FPContent", "0"}}, u"读卡失败", false, 3,
       {"ORV_InitComm", "ORV_Authenticate", "ORV_Read_FPContent", "ORV_CloseComm"}},
      {"read fails, 5U", DriverKind::k5U, &ReaderDriver::ReadIdCardNoJudge,
       {{"ports", "1"}, {"result.ORV_Read_Content", "2"}}, u"读卡失败", false, 3,
       {"ORV_InitComm", "ORV_AuthenticateForNoJudge", "ORV_Read_Content", "ORV_CloseComm"}},
      {"success, 5U", DriverKind::k5U, &ReaderDriver::ReadIdCard, {{"ports", "1"}}, u"ORV5U|大厅1|身份证|", true, 0, {}},
      {"success, 5A", DriverKind::k5A, &ReaderDriver::ReadIdCardNoJudge, {{"ports", "1"}}, u"ORV-5A||身份证|", true, 0, {}},
      {"success, 5ULN", DriverKind::k5ULN, &ReaderDriver::ReadIdCard, {{"ports", "1"}}, u"ORV-5U-HID||身份证|", true, 0, {}},
  };
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedApp app;
    app.SetScenario(c.kind, c.scenario);
    auto driver = app.MakeDriver(c.kind);
    std::u16string reply = ((*driver).*c.op)();
    if (c.replyIsPrefix) {
      EXPECT_EQ(reply.substr(0, c.reply.size()), c.reply);
      EXPECT_GT(reply.size(), 100u);
      auto names = app.CallNames(c.kind);
      ASSERT_FALSE(names.empty());
      EXPECT_EQ(names.back(), "ORV_CloseComm");
      EXPECT_EQ(std::count(names.begin(), names.end(), "ORV_CloseComm"), 1);
    } else {
      EXPECT_EQ(reply, c.reply);
      EXPECT_EQ(app.CallNames(c.kind), c.calls);
    }
    EXPECT_EQ(app.TakeStatuses(), std::vector<uint32_t>{c.status});
  }
}

TEST(IdCardRead, JudgeAndNoJudgeGiveTheSameReply) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5U, {{"ports", "1"}});
  auto driver = app.MakeDriver(DriverKind::k5U);
  EXPECT_EQ(driver->ReadIdCard(), driver->ReadIdCardNoJudge());
  app.TakeStatuses();
}

TEST(IdCardRead, DelayedVariantsPauseOnlyAfterASuccessfulOpen) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5A, {{"ports", "1"}});
  auto driver = app.MakeDriver(DriverKind::k5A);
  for (Op op : {&ReaderDriver::ReadIdCardDelayed, &ReaderDriver::ReadIdCardNoJudgeDelayed}) {
    app.ClearCalls(DriverKind::k5A);
    ((*driver).*op)();
    auto calls = app.Calls(DriverKind::k5A);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "ORV_InitComm");  // the saved port answered at once
    EXPECT_GE(calls[1].ms - calls[0].ms, 480u) << calls[1].name;  // tick steps of ~16 ms
  }
  app.TakeStatuses();
  // No reader: the port search and nothing after it; the pause follows only a successful open.
  app.SetScenario(DriverKind::k5A, {{"ports", ""}});
  app.ClearCalls(DriverKind::k5A);
  EXPECT_EQ(driver->ReadIdCardDelayed(), u"连接设备失败");
  EXPECT_EQ(app.CallNames(DriverKind::k5A), kNoReader);
  EXPECT_EQ(app.TakeStatuses(), std::vector<uint32_t>{2});
}

TEST(IdCardRead, DeviceNameWithBarsIsInsertedUnchanged) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5U, {{"ports", "1"}});
  WriteSettingString(u"Device", u"DeviceName", u"窗口|2", app.configPath());
  auto driver = app.MakeDriver(DriverKind::k5U);
  EXPECT_EQ(driver->ReadIdCard().substr(0, 14), u"ORV5U|窗口|2|身份证");
  app.TakeStatuses();
}

}  // namespace
}  // namespace kavenor
