#include "service/reader_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "common/clock.h"
#include "common/device_model.h"
#include "reader/reader_test_support.h"
#include "service/command_dispatch.h"

namespace kavenor {
namespace {

using testing::Call;
const DriverKind A = DriverKind::k5A, U = DriverKind::k5U;
// The call log is stamped from the system tick count, which may advance in steps of ~16 ms.
constexpr uint64_t kTickSlackMs = 20;

Command Parsed(const std::string& message) {
  std::optional<Command> command = ParseCommand(message);
  if (!command) throw std::invalid_argument("no command: " + message);
  return *command;
}

// The replies each client received, in order, and a way to wait for them.
class Replies {
 public:
  ReaderThread::ReplyFn To(ReaderThread::ClientId client) {
    return [this, client](std::u16string_view reply) {
      std::lock_guard<std::mutex> lock(mutex_);
      got_[client].emplace_back(reply);
      changed_.notify_all();
    };
  }
  // Waits for the client's `count`-th reply (a hang shows as the test's time-out) and returns all.
  std::vector<std::u16string> Await(ReaderThread::ClientId client, size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return got_[client].size() >= count; });
    return got_[client];
  }
  size_t Count(ReaderThread::ClientId client) {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_[client].size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<ReaderThread::ClientId, std::vector<std::u16string>> got_;
};

// The spans from each ORV_InitComm to the ORV_CloseComm after it, in the order of the log.
std::vector<std::pair<size_t, size_t>> ReaderCycles(const std::vector<Call>& calls) {
  std::vector<std::pair<size_t, size_t>> cycles;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name == "ORV_InitComm") cycles.emplace_back(i, calls.size());
    if (calls[i].name == "ORV_CloseComm" && !cycles.empty()) cycles.back().second = i;
  }
  return cycles;
}

// A reader whose commands a test decides.
class StandInReader : public ReaderBackend {
 public:
  using Fn = std::function<std::u16string(const Command&, int32_t model)>;
  explicit StandInReader(Fn run) : run_(std::move(run)) {}
  std::array<bool, 3> LibrariesLoaded() const override { return {true, true, true}; }
  void SetStatusSink(StatusSink) override {}
  std::optional<std::u16string_view> Run(const Command& c, int32_t model) override { return reply_ = run_(c, model); }

 private:
  Fn run_;
  std::u16string reply_;
};

class ReaderThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (DriverKind kind : {A, U, DriverKind::k5ULN}) app_.SetScenario(kind, {{"ports", "1"}});
    drivers_ = app_.MakeDrivers();
    backend_ = std::make_unique<InProcessReader>(*drivers_);
  }
  void TearDown() override { SetDeviceModel(0); }
  size_t Count(DriverKind kind, const std::string& name) {
    size_t n = 0;
    for (const Call& c : app_.Calls(kind)) n += c.name == name;
    return n;
  }

  testing::SimulatedApp app_;
  std::unique_ptr<ReaderDrivers> drivers_;
  std::unique_ptr<InProcessReader> backend_;
  Replies replies_;
};

TEST_F(ReaderThreadTest, ClientsGetTheirRepliesInTheirOwnOrderOneCommandAtATime) {
  app_.SetScenario(A, {{"ports", "1"}, {"delay_ms", "5"}});
  ReaderThread reader(*backend_);
  reader.Start(kModelOrv5a);
  const std::vector<std::string> commands = {"6", "7?Key=ffffffffffff|Block=1", "9"};
  for (const std::string& command : commands)
    for (ReaderThread::ClientId client : {1, 2, 3}) ASSERT_TRUE(reader.Submit(client, Parsed(command), replies_.To(client)));
  for (ReaderThread::ClientId client : {1, 2, 3}) {
    std::vector<std::u16string> got = replies_.Await(client, 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], u"04 03 02 01 |04 00 ");                                   // the request
    EXPECT_EQ(got[1].substr(0, 13), u"04 03 02 01 |");                          // the block
    EXPECT_EQ(got[2], u"6222021234567890123|01");                                // the bank card
  }
  // Nine reader cycles, none begun before the one before it had closed the reader.
  std::vector<Call> calls = app_.Calls(A);
  auto cycles = ReaderCycles(calls);
  ASSERT_EQ(cycles.size(), 9u);
  for (size_t i = 0; i < cycles.size(); ++i) {
    EXPECT_LT(cycles[i].second, calls.size()) << "cycle " << i << " was never closed";
    if (i > 0) {
      EXPECT_GT(cycles[i].first, cycles[i - 1].second) << "cycle " << i;
    }
  }
}

TEST_F(ReaderThreadTest, AGoneClientsQueuedCommandsNeverReachTheReader) {
  app_.SetScenario(A, {{"ports", "1"}, {"delay_ms", "100"}});
  ReaderThread reader(*backend_);
  reader.Start(kModelOrv5a);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(reader.Submit(1, Parsed("6"), replies_.To(1)));
  while (Count(A, "ORV_InitComm") == 0) SleepMs(5);
  reader.Forget(1);
  // Another client's command runs next: the other three of the first are gone.
  ASSERT_TRUE(reader.Submit(2, Parsed("9"), replies_.To(2)));
  replies_.Await(2, 1);
  std::vector<std::string> names = app_.CallNames(A);
  EXPECT_EQ(names, (std::vector<std::string>{"ORV_InitComm", "ORV_M1_Request", "ORV_CloseComm", "ORV_InitComm",
                                             "M1_MF_GetFisCardID", "ORV_CloseComm"}));
  EXPECT_EQ(replies_.Count(1), 0u) << "not even the command that ran is answered";
}

TEST_F(ReaderThreadTest, OtherClientsAreServedBetweenTheAttemptsOfAWaitingRead) {
  app_.SetScenario(U, {{"ports", "1"}, {"card", "0"}});
  ReaderThread reader(*backend_);
  reader.Start(kModelOrv5u);
  ASSERT_TRUE(reader.Submit(1, Parsed("2?timeout=1600"), replies_.To(1)));
  while (Count(U, "ORV_CloseComm") == 0) SleepMs(5);
  ASSERT_TRUE(reader.Submit(2, Parsed("5"), replies_.To(2)));
  EXPECT_EQ(replies_.Await(2, 1)[0], u"05.01-00002019-0000123456-0000000007");
  EXPECT_EQ(replies_.Count(1), 0u) << "the wait goes on";
  EXPECT_EQ(replies_.Await(1, 1)[0], u"读卡失败");
  // The security-module query ran in a pause of the wait, as a cycle of its own.
  std::vector<Call> calls = app_.Calls(U);
  auto cycles = ReaderCycles(calls);
  ASSERT_GE(cycles.size(), 3u);
  size_t sam = 0;
  for (size_t i = 0; i < calls.size(); ++i)
    if (calls[i].name == "ORV_GetSAMID") sam = i;
  EXPECT_GT(sam, cycles[0].second) << "after the first attempt";
  EXPECT_LT(sam, cycles.back().first) << "before the last attempt";
}

TEST_F(ReaderThreadTest, AWaitWithoutCardAttemptsEveryHalfSecondAndPostsEachOutcome) {
  app_.SetScenario(U, {{"ports", "1"}, {"card", "0"}});
  ReaderThread reader(*backend_);
  reader.Start(kModelOrv5u);
  app_.TakeStatuses();
  const uint64_t start = TickCountMs();
  ASSERT_TRUE(reader.Submit(1, Parsed("2?timeout=1200"), replies_.To(1)));
  EXPECT_EQ(replies_.Await(1, 1)[0], u"读卡失败");
  EXPECT_GE(TickCountMs() - start, 1200u);
  std::vector<uint64_t> attempts;
  for (const Call& c : app_.Calls(U))
    if (c.name == "ORV_InitComm") attempts.push_back(c.ms);
  // A fourth attempt could begin only 1500 ms in, past the deadline; a loaded machine fits fewer.
  ASSERT_GE(attempts.size(), 1u);
  EXPECT_LE(attempts.size(), 3u);
  for (size_t i = 1; i < attempts.size(); ++i) EXPECT_GE(attempts[i] - attempts[i - 1] + kTickSlackMs, 500u);
  EXPECT_EQ(app_.TakeStatuses(), std::vector<uint32_t>(attempts.size(), 1));  // one status per attempt
}

TEST_F(ReaderThreadTest, AModelChangeCountsFromTheNextCommandOrAttempt) {
  app_.SetScenario(U, {{"ports", "1"}, {"delay_ms", "150"}});
  ReaderThread reader(*backend_);
  reader.Start(kModelOrv5u);
  EXPECT_EQ(CurrentDeviceModel(), kModelOrv5u);
  ASSERT_TRUE(reader.Submit(1, Parsed("3"), replies_.To(1)));
  ASSERT_TRUE(reader.Submit(1, Parsed("3"), replies_.To(1)));
  while (Count(U, "ORV_InitComm") == 0) SleepMs(5);
  reader.RequestModel(kModelOrv5a);  // while the first read runs
  std::vector<std::u16string> got = replies_.Await(1, 2);
  EXPECT_EQ(got[0].substr(0, 6), u"ORV5U|");
  EXPECT_EQ(got[1].substr(0, 8), u"ORV-5A||");
  EXPECT_EQ(CurrentDeviceModel(), kModelOrv5a);
  EXPECT_EQ(Count(U, "ORV_InitComm"), 1u);

  // Within a waiting read, the next attempt takes the new model.
  app_.SetScenario(U, {{"ports", "1"}, {"card", "0"}});
  app_.SetScenario(A, {{"ports", "1"}});
  reader.RequestModel(kModelOrv5u);
  app_.ClearCalls(U);
  app_.ClearCalls(A);
  ASSERT_TRUE(reader.Submit(2, Parsed("2?timeout=60000"), replies_.To(2)));
  while (Count(U, "ORV_CloseComm") == 0) SleepMs(5);
  reader.RequestModel(kModelOrv5a);
  EXPECT_EQ(replies_.Await(2, 1)[0].substr(0, 8), u"ORV-5A||");
  EXPECT_EQ(Count(A, "ORV_Authenticate"), 1u);
  EXPECT_GE(app_.Calls(A).front().ms + kTickSlackMs, app_.Calls(U).back().ms + 500);
}

TEST_F(ReaderThreadTest, AGoneClientsWaitEndsAndStopEndsAWaitBetweenAttempts) {
  app_.SetScenario(U, {{"ports", "1"}, {"card", "0"}});
  ReaderThread reader(*backend_);
  reader.Start(kModelOrv5u);
  ASSERT_TRUE(reader.Submit(1, Parsed("2?timeout=60000"), replies_.To(1)));
  while (Count(U, "ORV_CloseComm") == 0) SleepMs(5);
  reader.Forget(1);
  ASSERT_TRUE(reader.Submit(2, Parsed("2?timeout=60000"), replies_.To(2)));
  // The second wait's first attempt follows the first wait's only one at once: no pause between.
  while (Count(U, "ORV_CloseComm") < 2) SleepMs(5);
  const std::vector<Call> before = app_.Calls(U);
  reader.Stop();  // the second wait sleeps between two attempts: it ends, unanswered
  EXPECT_EQ(app_.Calls(U).size(), before.size());
  EXPECT_EQ(app_.CallNames(U).back(), "ORV_CloseComm");
  EXPECT_EQ(replies_.Count(1) + replies_.Count(2), 0u);
}

TEST_F(ReaderThreadTest, AClientWithSixtyFourCommandsWaitingIsRefusedAMoreOthersAreNot) {
  // The first command holds the reader until the test lets it go.
  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
  StandInReader held([&](const Command&, int32_t) {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return go; });
    return std::u16string(u"done");
  });
  ReaderThread reader(held);
  reader.Start(kModelOrv5a);
  for (size_t i = 0; i < ReaderThread::kMaxPendingPerClient; ++i) EXPECT_TRUE(reader.Submit(1, Parsed("9"), replies_.To(1)));
  EXPECT_FALSE(reader.Submit(1, Parsed("9"), replies_.To(1)));
  EXPECT_TRUE(reader.Submit(2, Parsed("9"), replies_.To(2)));
  while (!reader.CurrentLoad().running) SleepMs(1);
  EXPECT_EQ(reader.CurrentLoad().waiting, ReaderThread::kMaxPendingPerClient);  // one of them runs
  // The load as client 2 sees it (the others' commands), and as client 1 does.
  const auto others = [](ReaderThread::ClientId me) { return [me](ReaderThread::ClientId c) { return c != me; }; };
  const ReaderThread::Load for2 = reader.CurrentLoad(others(2)), for1 = reader.CurrentLoad(others(1));
  EXPECT_EQ(std::make_pair(for2.running, for2.waiting), std::make_pair(true, ReaderThread::kMaxPendingPerClient - 1));
  EXPECT_EQ(std::make_pair(for1.running, for1.waiting), std::make_pair(false, size_t{1}));
  {
    std::lock_guard<std::mutex> lock(mutex);
    go = true;
  }
  released.notify_all();
  EXPECT_EQ(replies_.Await(1, ReaderThread::kMaxPendingPerClient).size(), ReaderThread::kMaxPendingPerClient);
  EXPECT_EQ(replies_.Await(2, 1)[0], u"done");
}

TEST_F(ReaderThreadTest, ACommandThatThrowsGetsItsOperationsFailureText) {
  StandInReader throwing([this](const Command& c, int32_t model) {
    if (c.code == CommandCode::kM1Read) throw std::runtime_error("the SDK gave a length past its buffer");
    return std::u16string(*backend_->Run(c, model));
  });
  ReaderThread reader(throwing);
  reader.Start(kModelOrv5a);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(reader.Submit(1, Parsed("7?Key=ffffffffffff|Block=1"), replies_.To(1)));
  ASSERT_TRUE(reader.Submit(1, Parsed("6"), replies_.To(1)));
  std::vector<std::u16string> got = replies_.Await(1, 2);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(got[0], u"读M1卡失败");
  EXPECT_EQ(got[1], u"04 03 02 01 |04 00 ");
  EXPECT_NE(out.find("Command 7 failed: the SDK gave a length past its buffer"), std::string::npos) << out;
}

}  // namespace
}  // namespace kavenor
