#include <gtest/gtest.h>

#include <chrono>

#include "common/status_message.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;

TEST(ReadSamId, TextForms) {
  struct Case {
    std::string raw;
    std::u16string reply;
    std::vector<uint32_t> status;
  } cases[] = {
      {"5-1-2019-123456-7", u"05.01-00002019-0000123456-0000000007", {}},
      {"12-34-123456789-1-2", u"12.34-123456789-0000000001-0000000002", {}},  // never cut
      {"5-1-2019-123456-", u"05.01-00002019-0000123456-0000000000", {}},
      {"5-1-2-3-4-5", u"05.01-00000002-0000000003-00000004-5", {}},  // the rest after the fourth hyphen
      {"-1-2-3-4", u".01-00000002-0000000003-0000000004", {}},
      {"5-1-2019-123456", u"获取安全模块号失败", {6}},
      {"", u"获取安全模块号失败", {6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    SimulatedApp app;
    app.SetScenario(DriverKind::k5U, {{"ports", "1"}, {"sam", c.raw}});
    auto driver = app.MakeDriver(DriverKind::k5U);
    EXPECT_EQ(driver->ReadSamId(), c.reply);
    EXPECT_EQ(app.TakeStatuses(), c.status);
    EXPECT_EQ(app.CallNames(DriverKind::k5U),
              (std::vector<std::string>{"ORV_InitComm", "ORV_GetSAMID", "ORV_CloseComm"}));
  }
}

TEST(ReadCompleteSamId, RawRecord) {
  struct Case {
    std::string raw;  // hex
    std::string result;
    std::u16string reply;
  } cases[] = {
      {"05aa01bb" "e3070000" "40e20100" "07000000", "1", u"05.01-00002019-0000123456-0000000007"},
      {"0a000f00" "ffffffff" "00000000" "01000000", "1", u"0A.0F-4294967295-0000000000-0000000001"},
      {"05aa01bb" "e3070000" "40e20100" "07000000", "0", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    SimulatedApp app;
    app.SetScenario(DriverKind::k5ULN, {{"ports", "1"}, {"samraw", c.raw}, {"result.ORV_GetCompleteSAMID", c.result}});
    auto driver = app.MakeDriver(DriverKind::k5ULN);
    EXPECT_EQ(driver->ReadCompleteSamId(), c.reply);
    EXPECT_TRUE(app.TakeStatuses().empty());
    EXPECT_EQ(app.CallNames(DriverKind::k5ULN),
              (std::vector<std::string>{"ORV_InitComm", "ORV_GetCompleteSAMID", "ORV_CloseComm"}));
  }
}

TEST(ReadBankCardNumber, OnlyLowerCaseFillerGoes) {
  struct Case {
    std::string number, second, result;
    std::u16string reply;
  } cases[] = {
      {"12f34fff", "01", "144", u"1234|01"},
      {"12F34", "01", "144", u"12F34|01"},
      {"6222021234567890123fff", "", "144", u"6222021234567890123|"},
      {"12f34", "01", "1", u"读金融卡失败"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    SimulatedApp app;
    app.SetScenario(DriverKind::k5A, {{"ports", "1"}, {"bank.number", c.number}, {"bank.second", c.second},
                                      {"result.M1_MF_GetFisCardID", c.result}});
    auto driver = app.MakeDriver(DriverKind::k5A);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driver->ReadBankCardNumber(), c.reply);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    EXPECT_TRUE(app.TakeStatuses().empty());
    EXPECT_EQ(app.CallNames(DriverKind::k5A),
              (std::vector<std::string>{"ORV_InitComm", "M1_MF_GetFisCardID", "ORV_CloseComm"}));
  }
}

}  // namespace
}  // namespace kavenor
