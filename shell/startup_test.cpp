// The restart flag, the single-instance name and the relaunch decision, without a window.
#include "shell/startup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "common/settings.h"
#include "common/test_support.h"
#include "common/text.h"
#include "shell/relaunch.h"
#include "shell/single_instance.h"

namespace kavenor {
namespace {

TEST(RestartFlag, OnlyAOneIsARelaunchAndTheFlagIsClearedEitherWay) {
  const std::pair<std::optional<std::string>, StartKind> cases[] = {
      {std::nullopt, StartKind::kNormal},
      {"[IP]\r\nRestart=0\r\n", StartKind::kNormal},
      {"[IP]\r\nRestart=1\r\n", StartKind::kRelaunch},
      {"[IP]\r\nRestart=2\r\n", StartKind::kNormal},
      {"[IP]\r\nRestart=1x\r\n", StartKind::kRelaunch},
  };
  for (const auto& [content, kind] : cases) {
    testing::ScratchDir dir;
    const std::u16string path = dir.Join(u"Config.ini");
    if (content) testing::WriteFileBytes(path, *content);
    EXPECT_EQ(TakeRestartFlag(path), kind) << content.value_or("no file");
    EXPECT_EQ(ReadSettingString(u"IP", u"Restart", u"", path, 16), u"0");
    EXPECT_EQ(TakeRestartFlag(path), StartKind::kNormal);  // the next start is checked again
  }
}

std::u16string UniqueName() {
  return u"KavenorTest-" + Utf8ToUtf16(std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
}

TEST(SingleInstanceName, ASecondClaimIsRefusedUntilTheFirstIsGone) {
  const std::u16string name = UniqueName();
  auto first = std::make_unique<SingleInstance>(name);
  ASSERT_TRUE(first->Claim());
  EXPECT_FALSE(SingleInstance(name).Claim());
  EXPECT_FALSE(first->AwaitPredecessor(60000));  // not a relaunch: nothing to wait for
  first.reset();
  EXPECT_TRUE(SingleInstance(name).Claim());
}

TEST(SingleInstanceName, ARelaunchTakesTheNameOverOnceItsPredecessorHasGone) {
  const std::u16string name = UniqueName();
  auto predecessor = std::make_unique<SingleInstance>(name);
  ASSERT_TRUE(predecessor->Claim());
  SingleInstance successor(name);
  successor.TakeOver();  // does not wait
  std::atomic<bool> awaited{false};
  // A predecessor that does not end is waited for only so long.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(successor.AwaitPredecessor(300));
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));  // a timer tick early at most
  std::thread waiter([&] { awaited = successor.AwaitPredecessor(600000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(awaited);  // the predecessor still runs
  EXPECT_FALSE(SingleInstance(name).Claim());
  predecessor.reset();
  waiter.join();
  EXPECT_TRUE(awaited);
  // The name is the successor's now: a normal start is refused again.
  EXPECT_FALSE(SingleInstance(name).Claim());
}

TEST(SingleInstanceName, ATakeOverWithNoPredecessorHoldsTheNameAtOnce) {
  const std::u16string name = UniqueName();
  SingleInstance successor(name);
  successor.TakeOver();
  EXPECT_TRUE(successor.AwaitPredecessor(600000));
  EXPECT_FALSE(SingleInstance(name).Claim());
}

TEST(Relaunch, StartedClosesAndAFailureClearsTheFlag) {
  for (bool starts : {true, false}) {
    testing::ScratchDir dir;
    const std::u16string path = dir.Join(u"Config.ini");
    WriteSettingString(u"IP", u"Restart", u"1", path);
    int calls = 0;
    RelaunchOutcome outcome = RelaunchProgram(path, [&] {
      ++calls;
      return starts;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(outcome, starts ? RelaunchOutcome::kStarted : RelaunchOutcome::kFailed);
    EXPECT_EQ(ReadSettingInt(u"IP", u"Restart", -1, path), starts ? 1 : 0);
  }
  EXPECT_FALSE(StartProgram(u"/no/such/folder/Kavenor.exe"));
}

}  // namespace
}  // namespace kavenor
