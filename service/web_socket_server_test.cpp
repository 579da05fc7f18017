// The service on a real socket, in a scratch app folder with the simulated reader. The client
// blocks: a missing reply shows as the test's time-out, and silence is checked by what comes next.
#include "service/web_socket_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio.hpp>
#include <algorithm>
#include <functional>
#include <mutex>
#include <thread>

#include "common/clock.h"
#include "common/device_model.h"
#include "common/settings.h"
#include "common/text.h"
#include "reader/reader_test_support.h"
#include "service/status_report.h"
#include "service/web_socket_test_client.h"

namespace kavenor {
namespace {

namespace asio = boost::asio;
using Tcp = asio::ip::tcp;
const asio::ip::address kLoopback = asio::ip::address_v4::loopback();

using Client = testing::WebSocketTestClient;

// The clock's tick may lag a wall-clock wait by this much.
constexpr uint64_t kTickSlackMs = 20;

// Waits until `done` holds; a guard against a hang only.
void WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 12000 && !done(); ++i) SleepMs(10);
  EXPECT_TRUE(done());
}

bool Ipv6Loopback() {
  asio::io_context io;
  Tcp::acceptor probe(io);
  boost::system::error_code ec;
  probe.open(Tcp::v6(), ec);
  if (!ec) probe.bind(Tcp::endpoint(asio::ip::address_v6::loopback(), 0), ec);
  return !ec;
}

class WebSocketServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (DriverKind kind : {DriverKind::k5A, DriverKind::k5U, DriverKind::k5ULN}) app_.SetScenario(kind, {{"ports", "1"}});
    asio::io_context io;
    port_ = Tcp::acceptor(io, Tcp::endpoint(kLoopback, 0)).local_endpoint().port();
    drivers_ = app_.MakeDrivers();
    backend_ = std::make_unique<InProcessReader>(*drivers_);
    server_ = std::make_unique<CWebSocketServer>(*backend_, app_.configPath(), app_.moduleDir());
  }
  void TearDown() override { SetDeviceModel(0); }
  void WriteConfig(int64_t port, int model) {
    WriteSettingString(u"IP", u"port", Utf8ToUtf16(std::to_string(port)), app_.configPath());
    WriteSettingString(u"Device", u"ID", Utf8ToUtf16(std::to_string(model)), app_.configPath());
  }
  testing::SimulatedApp app_;
  uint16_t port_ = 0;
  std::unique_ptr<ReaderDrivers> drivers_;
  std::unique_ptr<InProcessReader> backend_;
  std::unique_ptr<CWebSocketServer> server_;
};

TEST_F(WebSocketServerTest, ServesPagesAndCommandsUntilDrained) {
  WriteConfig(port_ + 65536, 3);  // the low 16 bits are the port
  WriteSetting(kAllowedOriginsSetting, u"http://example.invalid", app_.configPath());
  const std::string page("<html>03\0\r\n</html>", 18);
  testing::WriteFileBytes(app_.dir().Join(u"03_idcard.html"), page);
  std::atomic<bool> ended{false};
  std::thread service([&] {
    server_->Run();
    ended = true;
  });
  // Whatever fails below, the service is left drained so that Run returns (the clients, declared
  // later, are closed first).
  struct Joiner {
    std::function<void()> join;
    ~Joiner() { join(); }
  } joiner{[&] {
    Client last;
    if (!ended && last.Connect(kLoopback, port_) && !last.Handshake().empty()) last.Send("stop-listening");
    last.socket.close();
    if (service.joinable()) service.join();
  }};
  Client idle;  // connected first and left silent past the library's usual 5 s, within the service's 10 s
  for (int i = 0; i < 500 && !idle.Connect(kLoopback, port_); ++i) SleepMs(10);
  const uint64_t idleSince = TickCountMs();
  EXPECT_EQ(CurrentDeviceModel(), 3);

  Client http;
  ASSERT_TRUE(http.Connect(kLoopback, port_));
  asio::write(http.socket, asio::buffer(std::string("GET /favicon.ico HTTP/1.1\r\nHost: h\r\n\r\n")));
  std::string head = http.ReadUntil("\r\n\r\n");
  EXPECT_EQ(head, "HTTP/1.1 200 OK\r\nContent-Length: 18\r\nServer: WebSocket++/0.8.2\r\n\r\n");  // no type
  boost::system::error_code eof;
  asio::read(http.socket, asio::dynamic_buffer(http.in), eof);
  EXPECT_EQ(http.in, page);

  // A model chosen in the settings window counts from the next request.
  testing::WriteFileBytes(app_.dir().Join(u"idcardM1.html"), "M1 page");
  server_->RequestModel(2);
  for (int i = 0; i < 1000 && CurrentDeviceModel() != 2; ++i) SleepMs(10);
  Client http2;
  ASSERT_TRUE(http2.Connect(kLoopback, port_));
  asio::write(http2.socket, asio::buffer(std::string("GET / HTTP/1.1\r\nHost: h\r\n\r\n")));
  http2.ReadUntil("\r\n\r\n");
  asio::read(http2.socket, asio::dynamic_buffer(http2.in), eof);
  EXPECT_EQ(http2.in, "M1 page");
  server_->RequestModel(3);

  Client a;  // over IPv6 where the machine has it: the socket is dual-stack
  ASSERT_TRUE(a.Connect(Ipv6Loopback() ? asio::ip::address(asio::ip::address_v6::loopback()) : kLoopback, port_));
  // Any path is upgraded; an offered subprotocol is not taken up.
  asio::write(a.socket, asio::buffer(testing::UpgradeRequest(
                            "h", "Origin: http://example.invalid\r\nSec-WebSocket-Protocol: chat, superchat\r\n",
                            "/any/path?x=1")));
  head = a.ReadUntil("\r\n\r\n");
  EXPECT_EQ(head.rfind("HTTP/1.1 101", 0), 0u);
  EXPECT_EQ(head.find("Sec-WebSocket-Protocol"), std::string::npos);

  const std::string samId = "1:05.01-00002019-0000123456-0000000007", none = "1:" + Utf16ToUtf8(u"设备无此功能");
  a.Send("5");
  EXPECT_EQ(a.Receive(), samId);
  a.Send("5", 2);  // binary in, text out
  EXPECT_EQ(a.Receive(), samId);
  a.Send("1");  // no command, no reply: the next frame answers the "9"
  a.Send("9");
  EXPECT_EQ(a.Receive(), none);
  a.Send("9?" + std::string(300, 'x'));  // the 16-bit and the 64-bit length forms
  EXPECT_EQ(a.Receive(), none);
  a.Send("9?" + std::string(70000, 'x'));
  EXPECT_EQ(a.Receive(), none);
  a.Send("3");
  EXPECT_EQ(a.Receive().rfind("1:" + Utf16ToUtf8(u"ORV-5U-HID||身份证|"), 0), 0u);

  while (TickCountMs() - idleSince < 5500) SleepMs(50);
  EXPECT_EQ(idle.Handshake().rfind("HTTP/1.1 101", 0), 0u);

  // A page (it sent an Origin) cannot stop the service: an unknown command to it.
  a.Send("stop-listening");
  a.Send("9");
  EXPECT_EQ(a.Receive(), none);
  Client stillServed;
  EXPECT_TRUE(stillServed.Connect(kLoopback, port_));
  stillServed.socket.close();
  // A program on this computer can.
  idle.Send("stop-listening");
  idle.Send("9");
  EXPECT_EQ(idle.Receive(), none);
  Client refused;
  EXPECT_FALSE(refused.Connect(kLoopback, port_));
  idle.Send("stop-listening");  // a second one is ignored: the open connections are still served
  a.Send("9");
  EXPECT_EQ(a.Receive(), none);
  idle.Send("9");
  EXPECT_EQ(idle.Receive(), none);

  EXPECT_FALSE(ended);
  a.socket.close();
  idle.socket.close();
  service.join();  // the last connection gone, Run returns
  EXPECT_TRUE(ended);
}

// One HTTP request on a fresh connection: the response head and body (read up to the connection's end).
std::pair<std::string, std::string> HttpExchange(uint16_t port, const std::string& request) {
  Client http;
  if (!http.Connect(kLoopback, port)) return {"<no connection>", ""};
  asio::write(http.socket, asio::buffer(request));
  const std::string head = http.ReadUntil("\r\n\r\n");
  boost::system::error_code eof;
  asio::read(http.socket, asio::dynamic_buffer(http.in), eof);
  return {head, http.in};
}

std::string StatusFor(uint16_t port, const std::string& origin) {
  const std::string header = origin.empty() ? "" : "Origin: " + origin + "\r\n";
  return HttpExchange(port, "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header + "\r\n").second;
}

// Commands and closes as a page sees them: a frame's "<opcode>:<payload>", a close as its status code
// and reason.
std::string CloseOf(const std::string& frame) {
  if (frame.rfind("8:", 0) != 0 || frame.size() < 4) return frame;
  const int code = (static_cast<unsigned char>(frame[2]) << 8) | static_cast<unsigned char>(frame[3]);
  return std::to_string(code) + " " + frame.substr(4);
}

// The operator as the settings window stands in for it: the sites asked about, in order.
struct FakeOperator {
  std::mutex mutex;
  std::vector<std::string> asked, withdrawn;
  bool WasAsked(const std::string& site, bool withdrawnToo = false) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::vector<std::string>& list = withdrawnToo ? withdrawn : asked;
    return std::find(list.begin(), list.end(), site) != list.end();
  }
};

TEST_F(WebSocketServerTest, APageOfANewSiteWaitsForTheOperator) {
  WriteConfig(port_, 0);
  WriteSetting(kDeniedOriginsSetting, u"https://evil.example", app_.configPath());
  FakeOperator op;
  ServiceHooks hooks;
  hooks.askOperator = [&](const std::string& site) {
    std::lock_guard<std::mutex> lock(op.mutex);
    op.asked.push_back(site);
  };
  hooks.questionWithdrawn = [&](const std::string& site) {
    std::lock_guard<std::mutex> lock(op.mutex);
    op.withdrawn.push_back(site);
  };
  server_ = std::make_unique<CWebSocketServer>(*backend_, app_.configPath(), app_.moduleDir(), hooks);
  const long answerMs = 2000;
  server_->SetOperatorAnswerTime(answerMs);
  server_->Start();
  const auto connect = [&](Client& client, const std::string& origin) {
    for (int i = 0; i < 500 && !client.Connect(kLoopback, port_); ++i) SleepMs(10);
    return client.Handshake("Origin: " + origin + "\r\n").substr(0, 12);
  };
  const std::string samId = "1:05.01-00002019-0000123456-0000000007";
  const auto samReads = [&] {
    size_t n = 0;
    for (const auto& call : app_.Calls(DriverKind::k5U)) n += call.name == "ORV_GetSAMID";
    return n;
  };

  // A new site: its page is in, its commands wait for the answer; the status says so.
  Client page;
  EXPECT_EQ(connect(page, "https://Counter.example.cn"), "HTTP/1.1 101");
  WaitFor([&] { return op.WasAsked("https://counter.example.cn"); });
  EXPECT_NE(StatusFor(port_, "https://counter.example.cn").find("\"access\":\"asking\"}"), std::string::npos);
  EXPECT_NE(StatusFor(port_, "https://next.example.cn").find("\"access\":\"ask\"}"), std::string::npos);
  page.Send("5");
  Client local;  // a program on this computer, no Origin: served meanwhile, after the page's command
  ASSERT_TRUE(local.Connect(kLoopback, port_));
  local.Handshake();
  local.Send("5");
  EXPECT_EQ(local.Receive(), samId);
  EXPECT_EQ(samReads(), 1u);  // the page's command has not reached the reader
  server_->AnswerOperator("https://counter.example.cn", true);
  EXPECT_EQ(page.Receive(), samId);
  EXPECT_EQ(Utf16ToUtf8(ReadSetting(kAllowedOriginsSetting, app_.configPath(), 4096)), "https://counter.example.cn");
  Client again;  // remembered: no second question
  EXPECT_EQ(connect(again, "https://counter.example.cn"), "HTTP/1.1 101");
  again.Send("5");
  EXPECT_EQ(again.Receive(), samId);

  // Refused now, and refused before: closed with a reason the page's library shows.
  Client refusedNow;
  EXPECT_EQ(connect(refusedNow, "https://other.example"), "HTTP/1.1 101");
  WaitFor([&] { return op.WasAsked("https://other.example"); });
  refusedNow.Send("5");
  server_->AnswerOperator("https://other.example", false);
  EXPECT_EQ(CloseOf(refusedNow.Receive()), "1008 refused by the operator");
  EXPECT_EQ(Utf16ToUtf8(ReadSetting(kDeniedOriginsSetting, app_.configPath(), 4096)),
            "https://evil.example,https://other.example");
  Client refusedBefore;
  EXPECT_EQ(connect(refusedBefore, "https://evil.example"), "HTTP/1.1 101");
  refusedBefore.Send("5");
  EXPECT_EQ(CloseOf(refusedBefore.Receive()), "1008 refused by the operator");

  // No answer in time: closed, the question withdrawn, nothing kept.
  Client unanswered;
  const uint64_t asked = TickCountMs();
  EXPECT_EQ(connect(unanswered, "https://slow.example"), "HTTP/1.1 101");
  unanswered.Send("5");
  EXPECT_EQ(CloseOf(unanswered.Receive()), "1008 no answer from the operator");
  EXPECT_GE(TickCountMs() + kTickSlackMs, asked + answerMs);
  EXPECT_TRUE(op.WasAsked("https://slow.example", true));
  EXPECT_EQ(samReads(), 3u);  // none of the held or refused commands ran
  EXPECT_EQ(server_->Sites().size(), 3u);
  server_->Stop();
}

TEST_F(WebSocketServerTest, WithoutAWindowANewSiteIsRefusedAtTheHandshake) {
  WriteConfig(port_, 0);
  ::testing::internal::CaptureStdout();
  server_->Start();
  Client page;
  for (int i = 0; i < 500 && !page.Connect(kLoopback, port_); ++i) SleepMs(10);
  EXPECT_EQ(page.Handshake("Origin: https://counter.example.cn\r\n").substr(0, 12), "HTTP/1.1 403");
  server_->Stop();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Refused a WebSocket connection from origin https://counter.example.cn: not in [Security] "
                     "AllowedOrigins, and there is no window to ask the operator"),
            std::string::npos)
      << out;
}

TEST_F(WebSocketServerTest, StatusTellsEachPageWhereItsSiteStandsAndAnswersDuringAWait) {
  WriteConfig(port_, 0);
  WriteSetting(kAllowedOriginsSetting, u"https://a.cn", app_.configPath());
  WriteSetting(kDeniedOriginsSetting, u"https://evil.cn", app_.configPath());
  app_.SetScenario(DriverKind::k5U, {{"ports", "1"}, {"card", "0"}});
  server_->Start();
  for (int i = 0; i < 500 && HttpExchange(port_, "GET / HTTP/1.1\r\nHost: h\r\n\r\n").first[0] == '<'; ++i)
    SleepMs(10);
  const std::string version = ProductVersion();
  const std::string full = "\"model\":0,\"modelName\":\"ORV5U\",\"sdk\":{\"ORV5A\":true,\"ORV5U\":true,\"ORV5ULN\":true}";
  EXPECT_EQ(StatusFor(port_, ""), "{\"product\":\"Kavenor\",\"version\":\"" + version +
                                      "\",\"origin\":null,\"access\":\"allowed\"," + full +
                                      ",\"reader\":{\"running\":false,\"waiting\":0,"
                                      "\"otherSites\":{\"running\":false,\"waiting\":0}}}");
  EXPECT_NE(StatusFor(port_, "HTTPS://A.cn").find("\"origin\":\"https://a.cn\",\"access\":\"allowed\"," + full),
            std::string::npos);
  // A site that may not use the reader learns no more than that.
  EXPECT_EQ(StatusFor(port_, "https://evil.cn"), "{\"product\":\"Kavenor\",\"version\":\"" + version +
                                                     "\",\"origin\":\"https://evil.cn\",\"access\":\"refused\"}");
  EXPECT_EQ(StatusFor(port_, "https://b.cn"), "{\"product\":\"Kavenor\",\"version\":\"" + version +
                                                  "\",\"origin\":\"https://b.cn\",\"access\":\"not allowed\"}");
  const auto [head, body] = HttpExchange(port_, "GET /status?x=1 HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_NE(head.find("Access-Control-Allow-Origin: *\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Content-Type: application/json; charset=utf-8\r\n"), std::string::npos) << head;
  const auto preflight = HttpExchange(port_, "OPTIONS /status HTTP/1.1\r\nHost: h\r\nOrigin: https://a.cn\r\n\r\n");
  EXPECT_EQ(preflight.first.rfind("HTTP/1.1 204", 0), 0u) << preflight.first;
  EXPECT_NE(preflight.first.find("Access-Control-Allow-Private-Network: true\r\n"), std::string::npos);

  // A waiting read holds the reader, not the status, which tells of it.
  Client waiting;
  ASSERT_TRUE(waiting.Connect(kLoopback, port_));
  waiting.Handshake();
  waiting.Send("2?timeout=600000");
  // Either its attempt runs or it waits for the next one: the status is never idle meanwhile.
  WaitFor([&] { return StatusFor(port_, "").find("\"reader\":{\"running\":false,\"waiting\":0,") == std::string::npos; });
  // A program without Origin waits: a page of https://a.cn is held up by another site, such a
  // program by none.
  const std::string idle = "\"otherSites\":{\"running\":false,\"waiting\":0}";
  WaitFor([&] { return StatusFor(port_, "https://a.cn").find(idle) == std::string::npos; });
  EXPECT_NE(StatusFor(port_, "").find(idle), std::string::npos);
  waiting.socket.close();
  server_->Stop();
}

TEST_F(WebSocketServerTest, APortThatCannotBeBoundEndsTheService) {
  asio::io_context io;
  Tcp::acceptor blocker(io, Tcp::endpoint(Tcp::v4(), port_), false);
  WriteConfig(port_, 2);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(server_->Run(), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(CurrentDeviceModel(), 2);
  EXPECT_NE(out.find("Underlying Transport Error\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace kavenor
