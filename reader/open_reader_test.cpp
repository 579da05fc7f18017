#include <gtest/gtest.h>

#include "common/settings.h"
#include "common/status_message.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;

std::vector<std::string> InitCalls(std::initializer_list<int> ports) {
  std::vector<std::string> out;
  for (int p : ports) out.push_back("ORV_InitComm port=" + std::to_string(p));
  return out;
}

TEST(OpenReader, SavedPortAnswers) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5A, {{"ports", "5"}});
  WriteSettingString(u"IP", u"Com", u"5", app.configPath());
  const std::string before = testing::ReadFileBytes(app.configPath());
  auto driver = app.MakeDriver(DriverKind::k5A);
  EXPECT_TRUE(driver->OpenReader());
  EXPECT_EQ(app.CallTexts(DriverKind::k5A), InitCalls({5}));
  EXPECT_EQ(testing::ReadFileBytes(app.configPath()), before);
  EXPECT_TRUE(app.TakeStatuses().empty());
}

TEST(OpenReader, SearchFindsThePortAndSavesIt) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5A, {{"ports", "1003"}});
  auto driver = app.MakeDriver(DriverKind::k5A);
  EXPECT_TRUE(driver->OpenReader());
  EXPECT_EQ(app.CallTexts(DriverKind::k5A), InitCalls({1, 1001, 1002, 1003}));
  EXPECT_EQ(driver->savedPort(), 1003);
  EXPECT_EQ(ReadSettingString(u"IP", u"Com", u"", app.configPath(), 64), u"1003");
  EXPECT_TRUE(app.TakeStatuses().empty());

  // The next command opens on its first attempt.
  app.ClearCalls(DriverKind::k5A);
  EXPECT_TRUE(driver->OpenReader());
  EXPECT_EQ(app.CallTexts(DriverKind::k5A), InitCalls({1003}));
}

TEST(OpenReader, NoReaderTriesEveryPortOnceThenReportsStatus2) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5U, {{"ports", ""}});
  WriteSettingString(u"IP", u"Com", u"7", app.configPath());
  auto driver = app.MakeDriver(DriverKind::k5U);
  EXPECT_EQ(driver->ReadIdCard(), u"连接设备失败");
  std::vector<std::string> expected = InitCalls({7});
  for (int p = 1001; p <= 1016; ++p) expected.push_back("ORV_InitComm port=" + std::to_string(p));
  for (int p = 1; p <= 16; ++p) expected.push_back("ORV_InitComm port=" + std::to_string(p));
  EXPECT_EQ(expected.size(), 33u);
  EXPECT_EQ(app.CallTexts(DriverKind::k5U), expected);  // and no ORV_CloseComm
  EXPECT_EQ(app.TakeStatuses(), std::vector<uint32_t>{2});
  EXPECT_EQ(driver->savedPort(), 7);
  EXPECT_EQ(ReadSettingInt(u"IP", u"Com", 0, app.configPath()), 7);
}

// The three drivers read [IP] Com once at start and all write that one key.
TEST(OpenReader, DriversShareTheKeyButNotTheSavedPort) {
  SimulatedApp app;
  app.SetScenario(DriverKind::k5A, {{"ports", "1003"}});
  app.SetScenario(DriverKind::k5U, {{"ports", "1"}});
  auto drivers = app.MakeDrivers();
  EXPECT_TRUE(drivers->Reader5A.OpenReader());
  EXPECT_EQ(ReadSettingInt(u"IP", u"Com", 0, app.configPath()), 1003);
  EXPECT_EQ(drivers->Reader5U.savedPort(), 1);
  EXPECT_TRUE(drivers->Reader5U.OpenReader());
  EXPECT_EQ(app.CallTexts(DriverKind::k5U), InitCalls({1}));
}

}  // namespace
}  // namespace kavenor
