// The reader host against the simulated reader: the replies as in the program itself, and what a
// crash, a hung call, a host ended from outside and a host that cannot start do to the commands.
#include <gtest/gtest.h>

#include <future>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#endif

#include "common/clock.h"
#include "common/device_model.h"
#include "common/exe_dir.h"
#include "reader/reader_test_support.h"
#include "reader_host/call_watch.h"
#include "reader_host/host_frames.h"
#include "reader_host/isolated_reader.h"

namespace kavenor {
namespace {

using testing::SimulatedApp;
constexpr DriverKind A = DriverKind::k5A, U = DriverKind::k5U, LN = DriverKind::k5ULN;

Command Parsed(const std::string& message) { return *ParseCommand(message); }

// The lent reply, as a text of its own.
std::optional<std::u16string> Own(std::optional<std::u16string_view> reply) {
  if (!reply) return std::nullopt;
  return std::u16string(*reply);
}

// Enough of a reply to tell a failure text from a record, without printing a megabyte.
std::u16string Head(std::optional<std::u16string_view> reply) {
  return std::u16string(reply.value_or(u"(none)").substr(0, 40));
}

void KillProcess(int64_t id) {
#ifdef _WIN32
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  ASSERT_NE(process, nullptr);
  TerminateProcess(process, 9);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
#else
  ASSERT_EQ(kill(static_cast<pid_t>(id), SIGKILL), 0);
  // Until it has ended; left for its parent, this process's reader, to collect.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(id), &info, WEXITED | WNOWAIT), 0);
#endif
}

class IsolatedReaderTest : public ::testing::Test {
 protected:
  explicit IsolatedReaderTest(const std::vector<DriverKind>& folders = {A, U, LN}) : app_("full", folders) {
    for (DriverKind kind : folders) app_.SetScenario(kind, {{"ports", "1"}});
    // The host finds the SDK folders beside itself, as in the program's folder.
    testing::CopyFileTo(JoinPath(JoinPath(GetExeDir(), u"../app"), kHostExecutableName), app_.dir().Join(kHostExecutableName));
  }
  std::unique_ptr<IsolatedReader> Start(uint32_t callTimeoutMs = 20000) {
    HostSettings settings;
    settings.executable = app_.dir().Join(kHostExecutableName);
    settings.callTimeoutMs = callTimeoutMs;
    settings.firstBackOffMs = 20;
    settings.longestBackOffMs = 160;
    auto reader = std::make_unique<IsolatedReader>(settings, [this](const std::u16string& m) { messages_.push_back(m); });
    reader->SetStatusSink(app_.statusSink());
    return reader;
  }
  SimulatedApp app_;
  std::vector<std::u16string> messages_;
};

TEST_F(IsolatedReaderTest, RepliesAsTheProgramItselfWouldAMegabyteRecordWhole) {
  app_.SetScenario(U, {{"ports", "1"}, {"Getbase64FrontBMPDataU.size", "1000000"}, {"Getbase64backBMPDataU.size", "1000000"}});
  std::unique_ptr<ReaderDrivers> drivers = app_.MakeDrivers();
  InProcessReader inProcess(*drivers);
  std::unique_ptr<IsolatedReader> isolated = Start();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(isolated->LibrariesLoaded(), (std::array<bool, 3>{true, true, true}));
  const std::pair<int32_t, std::string> cases[] = {
      {kModelOrv5u, "3"}, {kModelOrv5u, "3?format=json"}, {kModelOrv5u, "5"}, {kModelOrv5a, "6"},
      {kModelOrv5a, "7?Key=ffffffffffff|Block=4"}, {kModelOrv5a, "9"}, {kModelOrv5uLn, "4"}, {kModelOrv5uLn, "5"},
      {kModelOrv5a, "8?Key=ff|Block=1"}, {kModelOrv5u, "2?timeout=1000"}};
  for (const auto& [model, message] : cases) {
    const std::optional<std::u16string> here = Own(inProcess.Run(Parsed(message), model));
    const std::vector<uint32_t> fromHere = app_.TakeStatuses();
    const std::optional<std::u16string> there = Own(isolated->Run(Parsed(message), model));
    EXPECT_TRUE(there == here) << message << ": " << (there ? there->size() : 0) << " units, not " << (here ? here->size() : 0);
    // The outcomes reach the program's log as they do from its own drivers.
    EXPECT_EQ(app_.TakeStatuses(), fromHere) << message;
  }
  EXPECT_GT(isolated->Run(Parsed("3"), kModelOrv5u)->size(), 2000000u);
}

// A call that crashes or never returns costs its command, not the next one.
TEST_F(IsolatedReaderTest, ACrashOrAHungCallAnswersTheFailureTextAndTheNextCommandRunsInAFreshHost) {
  const struct {
    std::string key;
    int32_t model;
    std::string command;
    std::u16string failure;
    uint32_t line;
  } cases[] = {
      {"crash.ORV_Read_Content", kModelOrv5u, "3", u"读卡失败", kStatusHostCrashed},
      {"abort.GetPeopleNameU", kModelOrv5u, "3?format=json", u"读卡失败", kStatusHostCrashed},
      {"crash.ORV_M1_Read", kModelOrv5a, "7?Key=ffffffffffff|Block=4", u"读M1卡失败", kStatusHostCrashed},
      {"hang.ORV_Authenticate", kModelOrv5u, "3", u"读卡失败", kStatusHostHung},
      {"hang.ORV_GetSAMID", kModelOrv5u, "5", u"获取安全模块号失败", kStatusHostHung},
  };
  std::unique_ptr<IsolatedReader> reader = Start(300);
  for (const auto& c : cases) {
    const DriverKind kind = c.model == kModelOrv5a ? A : U;
    const std::string entry = c.key.substr(c.key.find('.') + 1);
    app_.SetScenario(kind, {{"ports", "1"}, {c.key, "once"}});
    app_.ClearCalls(kind);
    app_.TakeStatuses();
    const int64_t before = reader->hostId();
    EXPECT_EQ(Head(reader->Run(Parsed(c.command), c.model)), c.failure) << c.key;
    EXPECT_EQ(app_.CallNames(kind).back(), entry) << c.key;  // the call that failed was the last
    reader->Recover();
    EXPECT_EQ(app_.TakeStatuses(), std::vector<uint32_t>{c.line}) << c.key;
    EXPECT_NE(reader->hostId(), before) << c.key;
    const std::optional<std::u16string> next = Own(reader->Run(Parsed(c.command), c.model));
    EXPECT_TRUE(next && *next != c.failure) << c.key;
    EXPECT_EQ(app_.CallNames(kind).back(), "ORV_CloseComm") << c.key;
  }
}

TEST_F(IsolatedReaderTest, AHostEndedFromOutsideBetweenTwoCommandsServesTheNext) {
  std::unique_ptr<IsolatedReader> reader = Start();
  const std::optional<std::u16string> first = Own(reader->Run(Parsed("5"), kModelOrv5u));
  KillProcess(reader->hostId());
  app_.TakeStatuses();
  EXPECT_TRUE(Own(reader->Run(Parsed("5"), kModelOrv5u)) == first);
  EXPECT_EQ(app_.TakeStatuses(), std::vector<uint32_t>{kStatusHostCrashed});
}

TEST_F(IsolatedReaderTest, AHostThatFailsAtEveryStartIsToldOnceAndTriedAgainAfterAPause) {
  app_.SetScenario(A, {{"ports", "1"}, {"abort.load", "always"}});
  std::unique_ptr<IsolatedReader> reader = Start();
  EXPECT_TRUE(messages_.empty());  // nothing is known of the libraries: no message
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Head(reader->Run(Parsed("3"), kModelOrv5u)), u"连接设备失败");
    SleepMs(10);
  }
  EXPECT_EQ(app_.TakeStatuses(), std::vector<uint32_t>{kStatusHostFailing});
  EXPECT_TRUE(app_.CallNames(U).empty());
  app_.SetScenario(A, {{"ports", "1"}});
  std::optional<std::u16string> reply;
  // The pause has grown to at most 160 ms here; the first command after it starts a host that works.
  for (int i = 0; i < 1000 && !(reply && reply->size() > 100); ++i) {
    SleepMs(10);
    reply = Own(reader->Run(Parsed("3"), kModelOrv5u));
  }
  EXPECT_GT(reply->size(), 100u);
  EXPECT_EQ(app_.TakeStatuses(), std::vector<uint32_t>{kStatusReadOk});  // no second line for the failures
}

class OneLibraryTest : public IsolatedReaderTest {
 protected:
  OneLibraryTest() : IsolatedReaderTest({U}) {}
};

TEST_F(OneLibraryTest, ALibraryThatDoesNotLoadIsShownOncePerFolderAsTheProgramShowsIt) {
  std::unique_ptr<IsolatedReader> reader = Start();
  EXPECT_EQ(messages_, std::vector<std::u16string>(2, kLibraryLoadFailed));
  EXPECT_EQ(reader->LibrariesLoaded(), (std::array<bool, 3>{false, true, false}));
}

TEST(CallWatchTest, OnlyACallPastTheDeadlineIsReported) {
  std::promise<uint8_t> hung;
  CallWatch watch(200, [&hung](uint8_t call) { hung.set_value(call); });
  for (int i = 0; i < 1000; ++i) {
    watch.Begin(static_cast<uint8_t>(i % 7));
    watch.End();
  }
  SleepMs(400);  // past the deadline of every call above, none running
  const uint64_t begun = TickCountMs();
  watch.Begin(9);
  EXPECT_EQ(hung.get_future().get(), 9);
  EXPECT_GE(TickCountMs() - begun, 200u);
}

TEST(HostFramesTest, ACommandCrossesWithEverythingItsOperationUses) {
  Command c = Parsed("8?Key=a0a1a2a3a4a5|Block=9|WriteBuf=000102030405060708090a0b0c0d0e0f");
  Command out;
  int32_t model = 0;
  ASSERT_TRUE(DecodeRun(EncodeRun(c, 3), out, model));
  EXPECT_EQ(model, 3);
  EXPECT_EQ(EncodeRun(out, 3), EncodeRun(c, 3));
  for (const std::string& bad : {std::string(), EncodeRun(c, 3) + "x", EncodeRun(c, 3).substr(1)})
    EXPECT_FALSE(DecodeRun(bad, out, model));
  std::string noCode = EncodeRun(c, 3);
  noCode[4] = 10;  // code 10 is none
  EXPECT_FALSE(DecodeRun(noCode, out, model));
}

}  // namespace
}  // namespace kavenor
