#include <gtest/gtest.h>

#include "common/status_message.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;

const uint8_t kKey[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
const uint8_t kWrongKey[6] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5};

class MemoryCard : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.SetScenario(DriverKind::k5A, {{"ports", "1"},
                                       {"m1.id", "01020304"},
                                       {"m1.request", "0400"},
                                       {"m1.key", "ffffffffffff"},
                                       {"m1.block.4", "000102030405060708090a0b0c0d0e0f"},
                                       {"m1.block.5", "abababababababababababababababab"}});
    driver_ = app_.MakeDriver(DriverKind::k5A);
  }
  void TearDown() override { EXPECT_TRUE(app_.TakeStatuses().empty()) << "card failures post nothing"; }

  SimulatedApp app_;
  std::unique_ptr<ReaderDriver> driver_;
};

TEST_F(MemoryCard, RepliesAndCalls) {
  const uint8_t data[16] = {0x00, 0x11};
  struct Case {
    const char* name;
    std::function<std::u16string()> op;
    std::u16string reply;
    std::string call;
  } cases[] = {
      {"request", [&] { return driver_->M1Request(0); }, u"04 03 02 01 |04 00 ", "ORV_M1_Request mode=0"},
      {"read", [&] { return driver_->M1Read(10, kKey, 4); },
       u"04 03 02 01 |00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ", "ORV_M1_Read mode=0 block=4 key=ffffffffffff"},
      {"lower-case hex", [&] { return driver_->M1Read(10, kKey, 5); },
       u"04 03 02 01 |ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ", "ORV_M1_Read mode=0 block=5 key=ffffffffffff"},
      {"write", [&] { return driver_->M1Write(10, kKey, 6, data); }, u"04 03 02 01 ",
       "ORV_M1_Write mode=0 block=6 key=ffffffffffff data=00110000000000000000000000000000"},
      {"read what was written", [&] { return driver_->M1Read(10, kKey, 6); },
       u"04 03 02 01 |00 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ", "ORV_M1_Read mode=0 block=6 key=ffffffffffff"},
      {"read with a wrong key", [&] { return driver_->M1Read(10, kWrongKey, 4); }, u"读M1卡失败",
       "ORV_M1_Read mode=0 block=4 key=a0a1a2a3a4a5"},
      {"write with a wrong key", [&] { return driver_->M1Write(200, kWrongKey, 4, data); }, u"写M1卡失败",
       "ORV_M1_Write mode=0 block=4 key=a0a1a2a3a4a5 data=00110000000000000000000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app_.ClearCalls(DriverKind::k5A);
    EXPECT_EQ(c.op(), c.reply);
    EXPECT_EQ(app_.CallTexts(DriverKind::k5A),
              (std::vector<std::string>{"ORV_InitComm port=1", c.call, "ORV_CloseComm"}));
  }
}

TEST_F(MemoryCard, NoCardFailsEachCall) {
  app_.SetScenario(DriverKind::k5A, {{"ports", "1"}, {"card", "0"}});
  EXPECT_EQ(driver_->M1Request(0), u"M1卡认证失败");
  EXPECT_EQ(driver_->M1Read(10, kKey, 4), u"读M1卡失败");
  uint8_t data[16] = {};
  EXPECT_EQ(driver_->M1Write(10, kKey, 4, data), u"写M1卡失败");
}

TEST_F(MemoryCard, PauseAfterOpening) {
  // The stamps come from the tick count, which Windows advances in steps of up to ~16 ms.
  for (uint32_t pause : {10u, 200u}) {
    app_.ClearCalls(DriverKind::k5A);
    driver_->M1Read(pause, kKey, 4);
    auto calls = app_.Calls(DriverKind::k5A);
    ASSERT_EQ(calls.size(), 3u);  // one cycle: nothing but the pause between opening and reading
    EXPECT_EQ(calls[0].Text(), "ORV_InitComm port=1");
    EXPECT_EQ(calls[1].Text(), "ORV_M1_Read mode=0 block=4 key=ffffffffffff");
    EXPECT_EQ(calls[2].Text(), "ORV_CloseComm");
    EXPECT_GE(calls[1].ms - calls[0].ms + 20, pause);
  }
}

TEST_F(MemoryCard, NoReader) {
  app_.SetScenario(DriverKind::k5A, {{"ports", ""}});
  EXPECT_EQ(driver_->M1Request(0), u"连接设备失败");
  EXPECT_EQ(app_.TakeStatuses(), std::vector<uint32_t>{2});
}

}  // namespace
}  // namespace kavenor
