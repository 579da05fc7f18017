#include "service/command_dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "common/clock.h"
#include "reader/reader_test_support.h"
#include "service/reader_thread.h"

namespace kavenor {
namespace {

using testing::Call;

const DriverKind A = DriverKind::k5A, U = DriverKind::k5U, LN = DriverKind::k5ULN;
// The call log is stamped from the system tick count, which may advance in steps of ~16 ms.
constexpr uint64_t kTickSlackMs = 20;

// A scratch app folder whose three readers answer on port 1 with the demo card.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (DriverKind kind : {A, U, LN}) app_.SetScenario(kind, {{"ports", "1"}});
    drivers_ = app_.MakeDrivers();
  }
  // The reply to `message` with `model`; nullopt for a message that is no command. A waiting read
  // runs as the reader thread runs it, alone.
  std::optional<std::u16string> Run(int32_t model, const std::string& message) {
    for (DriverKind kind : {A, U, LN}) app_.ClearCalls(kind);
    std::optional<Command> command = ParseCommand(message);
    if (!command) return std::nullopt;
    if (command->code != CommandCode::kWaitingRead) return RunCommand(*command, model, *drivers_);
    InProcessReader backend(*drivers_);
    ReaderThread reader(backend);
    reader.Start(model);
    std::promise<std::u16string> reply;
    reader.Submit(1, *command, [&reply](std::u16string_view text) { reply.set_value(std::u16string(text)); });
    return reply.get_future().get();
  }
  size_t CallCount(DriverKind kind, const std::string& name = {}) const {
    auto calls = app_.Calls(kind);
    return std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return name.empty() || c.name == name; });
  }
  size_t AllCalls() const { return CallCount(A) + CallCount(U) + CallCount(LN); }

  testing::SimulatedApp app_;
  std::unique_ptr<ReaderDrivers> drivers_;
};

TEST_F(DispatchTest, EachModelRunsItsDriversOperation) {
  const std::string read = "7?Key=ffffffffffff|Block=4", write = "8?Block=4|Key=ffffffffffff|WriteBuf=0011" + std::string(28, '0');
  const std::string m1Read = "ORV_M1_Read mode=0 block=4 key=ffffffffffff", m1Request = "ORV_M1_Request mode=0",
                    m1Write = "ORV_M1_Write mode=0 block=4 key=ffffffffffff data=0011" + std::string(28, '0'),
                    auth = "ORV_Authenticate", noJudge = "ORV_AuthenticateForNoJudge", wait = "2?timeout=5000";
  const std::u16string noSam = u"设备无法获取安全模块号", none = u"设备无此功能", expired = u"读卡失败";
  const struct {
    int32_t model;
    std::string message;
    std::optional<DriverKind> driver;  // none: the fixed reply and no reader call at all
    std::string entry;                 // the operation's own library call, with its arguments
    uint32_t pauseMs;                  // from opening the reader to that call
    std::u16string fixed;
  } cases[] = {
      {0, wait, U, auth, 0, {}}, {1, wait, A, auth, 0, {}}, {2, wait, A, auth, 500, {}}, {3, wait, LN, auth, 0, {}},
      {7, "2?timeout=300", {}, "", 0, expired}, {-1, "2?timeout=300", {}, "", 0, expired},
      {0, "3", U, auth, 0, {}}, {1, "3", A, auth, 0, {}}, {2, "3", A, auth, 500, {}}, {3, "3", LN, auth, 0, {}},
      {7, "3", {}, "", 0, u""}, {-1, "3", {}, "", 0, u""},
      {0, "4", U, noJudge, 0, {}}, {1, "4", A, noJudge, 0, {}}, {2, "4", A, noJudge, 500, {}}, {3, "4", LN, noJudge, 0, {}},
      {7, "4", {}, "", 0, u""}, {-1, "4", {}, "", 0, u""},
      {0, "5", U, "ORV_GetSAMID", 0, {}}, {1, "5", {}, "", 0, noSam}, {2, "5", {}, "", 0, noSam},
      {3, "5", LN, "ORV_GetCompleteSAMID", 0, {}}, {7, "5", {}, "", 0, noSam}, {-1, "5", {}, "", 0, noSam},
      {0, "6", {}, "", 0, none}, {1, "6", A, m1Request, 0, {}}, {2, "6", A, m1Request, 200, {}},
      {3, "6", {}, "", 0, none}, {7, "6", A, m1Request, 200, {}}, {-1, "6", A, m1Request, 200, {}},
      {0, read, {}, "", 0, none}, {1, read, A, m1Read, 10, {}}, {2, read, A, m1Read, 200, {}},
      {3, read, {}, "", 0, none}, {7, read, A, m1Read, 200, {}}, {-1, read, A, m1Read, 200, {}},
      {0, write, {}, "", 0, none}, {1, write, A, m1Write, 10, {}}, {2, write, A, m1Write, 200, {}},
      {3, write, {}, "", 0, none}, {7, write, A, m1Write, 200, {}}, {-1, write, A, m1Write, 200, {}},
      {0, "9", {}, "", 0, none}, {1, "9", A, "M1_MF_GetFisCardID", 10, {}}, {2, "9", {}, "", 0, none},
      {3, "9", {}, "", 0, none}, {7, "9", {}, "", 0, none}, {-1, "9", {}, "", 0, none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model) + ", message " + c.message);
    std::optional<std::u16string> reply = Run(c.model, c.message);
    ASSERT_TRUE(reply.has_value());
    if (!c.driver) {
      EXPECT_EQ(*reply, c.fixed);
      EXPECT_EQ(AllCalls(), 0u);
      continue;
    }
    EXPECT_EQ(AllCalls(), CallCount(*c.driver));  // no other driver was touched
    // One reader cycle: the saved port opens, the operation's own call comes next, after the pause,
    // and the reader is closed last. No second attempt; codes 2 to 9 alike.
    std::vector<Call> calls = app_.Calls(*c.driver);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].Text(), "ORV_InitComm port=1");
    EXPECT_EQ(calls[1].Text(), c.entry);
    EXPECT_GE(calls[1].ms - calls[0].ms + kTickSlackMs, c.pauseMs);
    EXPECT_EQ(calls.back().name, "ORV_CloseComm");
    EXPECT_EQ(CallCount(*c.driver, "ORV_InitComm"), 1u);
    EXPECT_EQ(CallCount(*c.driver, "ORV_CloseComm"), 1u);
    EXPECT_FALSE(reply->empty());
  }
}

TEST_F(DispatchTest, RepliesAndSilence) {
  std::optional<std::u16string> reply = Run(0, "3?any parameters are ignored");
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->rfind(u"ORV5U|大厅1|身份证|", 0), 0u);
  for (const char* message : {"", "1", "10", "A", "hello", "stop-listening", "stop-listening "}) {
    EXPECT_FALSE(Run(1, message).has_value()) << message;
    EXPECT_EQ(AllCalls(), 0u) << message;
  }
  // A time-out of 0, or none given: no attempt, so no status and none of the pauses that follow one.
  app_.TakeStatuses();
  for (const char* message : {"2", "2?timeout=0", "2?time=5000"}) {
    EXPECT_EQ(Run(1, message), std::u16string(u"读卡失败")) << message;
    EXPECT_EQ(AllCalls(), 0u) << message;
    EXPECT_TRUE(app_.TakeStatuses().empty()) << message;
  }
}

TEST_F(DispatchTest, MemoryCardParameters) {
  const std::string ff = "ffffffffffff";
  const struct {
    int32_t model;
    std::string message;
    std::string call;  // empty: this fixed reply and no call
    std::u16string fixed;
  } cases[] = {
      {1, "7?Key=" + ff, "ORV_M1_Read mode=0 block=255 key=" + ff, {}},
      {2, "7?Key=" + ff + "|Block=260", "ORV_M1_Read mode=0 block=4 key=" + ff, {}},
      {1, "7?Block=8|Key=abc", "ORV_M1_Read mode=0 block=8 key=ab0000000000", {}},
      {1, "7?Block=1|Key=" + ff + "0011", "ORV_M1_Read mode=0 block=1 key=" + ff, {}},
      {1, "7?Block=1|Key", "ORV_M1_Read mode=0 block=1 key=000000000000", {}},
      {1, "8?Block=2|Key=" + ff + "|WriteBuf=" + std::string(40, 'a'),
       "ORV_M1_Write mode=0 block=2 key=" + ff + " data=" + std::string(32, 'a'), {}},
      {1, "8?WriteBuf=01" + std::string(30, 'F') + "|Key=" + ff + "|Block=260",
       "ORV_M1_Write mode=0 block=4 key=" + ff + " data=01" + std::string(30, 'f'), {}},
      // A write names its block and gives all 16 bytes: anything less touches no card.
      {1, "8?Key=" + ff + "|WriteBuf=" + std::string(32, '1'), "", u"输入参数有误"},
      {1, "8?Block=7|Key=" + ff + "|WriteBuf=", "", u"输入参数有误"},
      {1, "8?Block=7|Key=" + ff + "|WriteBuf=" + std::string(30, '0'), "", u"输入参数有误"},
      {1, "8?Block=7|Key=" + ff + "|WriteBuf=" + std::string(31, '0') + "g", "", u"输入参数有误"},
      {3, "8?Block=7|Key=" + ff + "|WriteBuf=00", "", u"输入参数有误"},
      {3, "7?Block=4", "", u"输入参数有误"},  // parameters are checked before the model
      {0, "8?Block=4|Key=" + ff, "", u"输入参数有误"},
      {1, "8?Block=4|WriteBuf=00", "", u"输入参数有误"},
      {3, "7?Key=" + ff, "", u"设备无此功能"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::optional<std::u16string> reply = Run(c.model, c.message);
    ASSERT_TRUE(reply.has_value());
    if (c.call.empty()) {
      EXPECT_EQ(*reply, c.fixed);
      EXPECT_EQ(AllCalls(), 0u);
    } else {
      EXPECT_EQ(app_.CallTexts(A).at(1), c.call);
    }
  }
}

// "format=json": a successful read answers one JSON object, after the same reader cycle as the text;
// whatever else the command answers stays as it is.
TEST_F(DispatchTest, JsonRecordOnRequest) {
  const std::u16string tagOf[] = {u"ORV5U", u"ORV-5A", u"ORV-5A", u"ORV-5U-HID"};
  const DriverKind driverOf[] = {U, A, A, LN};
  for (int32_t model = 0; model <= 3; ++model) {
    for (const char* message : {"3?format=json", "4?format=json", "2?timeout=5000|format=json", "2?format=json|timeout=5000"}) {
      SCOPED_TRACE("model " + std::to_string(model) + ", message " + message);
      std::optional<std::u16string> reply = Run(model, message);
      ASSERT_TRUE(reply.has_value());
      const std::vector<std::string> jsonCalls = app_.CallNames(driverOf[model]);
      EXPECT_EQ(reply->rfind(u"{\"readerModel\":\"" + tagOf[model] + u"\",\"deviceName\":\"", 0), 0u);
      EXPECT_EQ(reply->back(), u'}');
      EXPECT_NE(reply->find(u"\"idNumber\":\"110101199001010000\""), std::u16string::npos);
      // The text form of the same command: the same calls, in the same order.
      const std::string text = message[0] == '2' ? "2?timeout=5000" : std::string(1, message[0]);
      reply = Run(model, text);
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(reply->rfind(tagOf[model] + u"|", 0), 0u);
      EXPECT_EQ(app_.CallNames(driverOf[model]), jsonCalls);
      EXPECT_EQ(AllCalls(), CallCount(driverOf[model]));
    }
  }
  app_.TakeStatuses();

  // Fixed texts and failure texts are the same with the parameter.
  EXPECT_EQ(Run(7, "3?format=json"), std::u16string());
  EXPECT_EQ(Run(-1, "4?format=json"), std::u16string());
  EXPECT_EQ(Run(7, "2?timeout=300|format=json"), std::u16string(u"读卡失败"));
  EXPECT_EQ(Run(1, "2?format=json"), std::u16string(u"读卡失败"));
  EXPECT_EQ(Run(0, "5?format=json"), Run(0, "5"));
  EXPECT_EQ(Run(0, "9?format=json"), std::u16string(u"设备无此功能"));
  app_.SetScenario(U, {{"ports", ""}});
  EXPECT_EQ(Run(0, "3?format=json"), std::u16string(u"连接设备失败"));
  app_.SetScenario(A, {{"ports", "1"}, {"card", "0"}});
  EXPECT_EQ(Run(1, "4?format=json"), std::u16string(u"卡认证失败"));
  EXPECT_EQ(Run(1, "2?timeout=1000|format=json"), std::u16string(u"读卡失败"));
  EXPECT_GE(CallCount(A, "ORV_Authenticate"), 2u);  // attempts were made, each failing
  app_.SetScenario(LN, {{"ports", "1"}, {"result.ORV_Read_FPContent", "0"}});
  EXPECT_EQ(Run(3, "3?format=json"), std::u16string(u"读卡失败"));
  app_.TakeStatuses();
}

}  // namespace
}  // namespace kavenor
