#include <gtest/gtest.h>

#include "common/settings.h"
#include "common/status_message.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;
constexpr char16_t kLoadFailed[] = u"找不到Kadrel.dll或无法加载Kadrel.dll";

TEST(Binding, WhichLibrariesArePresent) {
  struct Case {
    const char* name;
    std::vector<DriverKind> present;
    size_t messages;
  } cases[] = {
      {"all three", {DriverKind::k5A, DriverKind::k5U, DriverKind::k5ULN}, 0},
      {"only ORV5U", {DriverKind::k5U}, 2},
      {"none", {}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedApp app("full", c.present);
    auto drivers = app.MakeDrivers();
    ASSERT_EQ(app.messages.size(), c.messages);
    for (const auto& m : app.messages) EXPECT_EQ(m, kLoadFailed);
    auto present = [&](DriverKind k) {
      return std::find(c.present.begin(), c.present.end(), k) != c.present.end();
    };
    EXPECT_EQ(drivers->Reader5A.IsBound(), present(DriverKind::k5A));
    EXPECT_EQ(drivers->Reader5U.IsBound(), present(DriverKind::k5U));
    EXPECT_EQ(drivers->Reader5ULN.IsBound(), present(DriverKind::k5ULN));
  }
}

TEST(Binding, EachDriverBindsOnlyItsOwnRows) {
  SimulatedApp app;
  auto drivers = app.MakeDrivers();
  const EntryPoints& a = drivers->Reader5A.entryPoints();
  const EntryPoints& u = drivers->Reader5U.entryPoints();
  const EntryPoints& ln = drivers->Reader5ULN.entryPoints();
  for (const EntryPoints* e : {&a, &u, &ln}) {
    EXPECT_NE(e->ORV_InitComm, nullptr);
    EXPECT_NE(e->GetCertTypeU, nullptr);
    EXPECT_NE(e->GetIssuesNumU, nullptr);
  }
  EXPECT_NE(a.ORV_M1_Read, nullptr);
  EXPECT_NE(a.ORV_Read_FPContent, nullptr);
  EXPECT_EQ(a.ORV_Read_Content, nullptr);
  EXPECT_EQ(a.Getbase64FrontBMPDataU, nullptr);
  EXPECT_NE(u.ORV_Read_Content, nullptr);
  EXPECT_NE(u.ORV_GetSAMID, nullptr);
  EXPECT_NE(u.GetStandbyENameU, nullptr);
  EXPECT_EQ(u.ORV_Read_FPContent, nullptr);
  EXPECT_EQ(u.ORV_M1_Read, nullptr);
  EXPECT_NE(ln.ORV_GetCompleteSAMID, nullptr);
  EXPECT_EQ(ln.ORV_GetSAMID, nullptr);
  EXPECT_EQ(ln.M1_MF_GetFisCardID, nullptr);
}

TEST(Binding, SettingsReadBeforeLoadingAndWithoutAFile) {
  SimulatedApp app("full", {});
  auto drivers = app.MakeDrivers();  // no library at all: the settings are read all the same
  EXPECT_EQ(drivers->Reader5A.savedPort(), 1);
  EXPECT_EQ(drivers->Reader5U.savedPort(), 1);
  EXPECT_EQ(drivers->Reader5U.deviceName(), u"大厅1");
  EXPECT_EQ(drivers->Reader5U.settingsPath(), app.configPath());

  WriteSettingString(u"IP", u"Com", u"1003", app.configPath());
  WriteSettingString(u"Device", u"DeviceName", std::u16string(300, u'厅'), app.configPath());
  auto again = app.MakeDrivers();
  EXPECT_EQ(again->Reader5ULN.savedPort(), 1003);
  EXPECT_EQ(again->Reader5U.deviceName(), std::u16string(255, u'厅'));
}

// An unbound driver, or a library that lacks the later entry points: never a null call, and each
// operation answers as the failed call would.
TEST(Binding, MissingEntryPointsAnswerAsFailedCalls) {
  const uint8_t key[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  const uint8_t data[16] = {};
  struct Case {
    const char* name;
    std::function<std::u16string(ReaderDrivers&)> op;
    std::u16string commOnlyReply;
    std::vector<uint32_t> commOnlyStatus;
  } cases[] = {
      {"ReadIdCard", [](ReaderDrivers& d) { return d.Reader5U.ReadIdCard(); }, u"卡认证失败", {1}},
      {"ReadIdCardNoJudgeDelayed", [](ReaderDrivers& d) { return d.Reader5A.ReadIdCardNoJudgeDelayed(); }, u"卡认证失败", {1}},
      {"M1Request", [](ReaderDrivers& d) { return d.Reader5A.M1Request(0); }, u"M1卡认证失败", {}},
      {"M1Read", [&](ReaderDrivers& d) { return d.Reader5A.M1Read(0, key, 4); }, u"读M1卡失败", {}},
      {"M1Write", [&](ReaderDrivers& d) { return d.Reader5A.M1Write(0, key, 4, data); }, u"写M1卡失败", {}},
      {"ReadBankCardNumber", [](ReaderDrivers& d) { return d.Reader5A.ReadBankCardNumber(); }, u"读金融卡失败", {}},
      {"ReadSamId", [](ReaderDrivers& d) { return d.Reader5U.ReadSamId(); }, u"获取安全模块号失败", {6}},
      {"ReadCompleteSamId", [](ReaderDrivers& d) { return d.Reader5ULN.ReadCompleteSamId(); }, u"", {}},
  };
  SimulatedApp commOnly("comm_only");
  for (DriverKind k : {DriverKind::k5A, DriverKind::k5U, DriverKind::k5ULN}) commOnly.SetScenario(k, {{"ports", "1"}});
  auto bound = commOnly.MakeDrivers();
  SimulatedApp none("full", {});
  auto unbound = none.MakeDrivers();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (DriverKind k : {DriverKind::k5A, DriverKind::k5U, DriverKind::k5ULN}) commOnly.ClearCalls(k);
    EXPECT_EQ(c.op(*bound), c.commOnlyReply);
    EXPECT_EQ(commOnly.TakeStatuses(), c.commOnlyStatus);
    auto calls = commOnly.CallTexts(DriverKind::k5A);
    auto callsU = commOnly.CallTexts(DriverKind::k5U);
    auto callsLN = commOnly.CallTexts(DriverKind::k5ULN);
    calls.insert(calls.end(), callsU.begin(), callsU.end());
    calls.insert(calls.end(), callsLN.begin(), callsLN.end());
    EXPECT_EQ(calls, (std::vector<std::string>{"ORV_InitComm port=1", "ORV_CloseComm"}));

    EXPECT_EQ(c.op(*unbound), u"连接设备失败");
    EXPECT_EQ(none.TakeStatuses(), std::vector<uint32_t>{2});
  }
}

}  // namespace
}  // namespace kavenor
